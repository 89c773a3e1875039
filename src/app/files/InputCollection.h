// Turning command-line parameters and dropped paths into the path list of a
// run: folders are searched for files with the ".jpg" extension; a file named
// by itself is taken by that extension or by its content.
#pragma once

#include <string>
#include <vector>

namespace plume {

// True when the extension of path's name part (from its last ".") is ".jpg"
// in any letter case.
bool HasJpgExtension(const std::string& path);

// folder + "/" + name, without doubling a "/" that folder already ends in.
std::string JoinPath(const std::string& folder, const std::string& name);

// Appends to fileList the ".jpg" files of the folder at path (any letter
// case; hidden files skipped), then those of each sub-folder, depth first
// (hidden folders skipped). Names are taken in byte order, so that a run's
// order never depends on the file system. Links to folders are not followed,
// so a loop of links cannot make the search endless. A folder that cannot be
// read adds nothing. Sub-folders named "result" and "original", which the
// save methods write into, are passed over (a second run would turn the
// results or the kept originals again) and appended to skipped when it is
// given; the folder at path itself is always searched.
void ScanFolder(const std::string& path, std::vector<std::string>& fileList,
                std::vector<std::string>* skipped = nullptr);

// True when the file at path begins as a JPEG file does: SOI and the marker
// of a first segment (T.81, B.2.1).
bool StartsAsJpeg(const std::string& path);

// One command-line parameter or dropped path: a folder is searched; a file is
// appended unchanged when its name has the ".jpg" extension (whether it
// exists or not) or its content starts as a JPEG (a ".jpeg" or ".JPE" that a
// file manager hands over). False when the path was passed over.
bool AcceptPath(const std::string& path, std::vector<std::string>& fileList,
                std::vector<std::string>* skipped = nullptr);

}  // namespace plume
