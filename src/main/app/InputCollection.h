// Turning command-line parameters and dropped paths into the path list of a
// run: folders are searched for JPEG files, single files are taken by their
// ".jpg" extension.
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

// One command-line parameter or dropped path: a folder is searched, a path
// with a ".jpg" extension is appended unchanged (whether it exists or not),
// anything else is ignored.
void AcceptPath(const std::string& path, std::vector<std::string>& fileList,
                std::vector<std::string>* skipped = nullptr);

}  // namespace plume
