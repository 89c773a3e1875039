#include "JpegRotation/metadata/TrimmedSize.h"

#include "JpegRotation/metadata/TiffLayout.h"

namespace plume {

void WriteTrimmedSize(const TEdgeTrim& trim, std::int64_t frameSizePosition,
                      const std::vector<TExifDimensions>& exifDimensions,
                      std::vector<std::uint8_t>& output) {
    if (!trim.Any()) return;
    std::uint8_t* memory = output.data();
    if (frameSizePosition >= 0 &&
        static_cast<std::uint64_t>(frameSizePosition) + 4 <= output.size()) {
        std::uint8_t* field = memory + frameSizePosition;
        field[0] = static_cast<std::uint8_t>(trim.height >> 8);
        field[1] = static_cast<std::uint8_t>(trim.height);
        field[2] = static_cast<std::uint8_t>(trim.width >> 8);
        field[3] = static_cast<std::uint8_t>(trim.width);
    }
    for (const TExifDimensions& entries : exifDimensions) {
        const TTiffView view(memory, output.size(), entries.littleEndian);
        if (trim.firstColumn != 0 && entries.width >= 0)
            view.PutScalarValue(static_cast<std::size_t>(entries.width),
                                static_cast<std::uint32_t>(trim.width));
        if (trim.firstRow != 0 && entries.height >= 0)
            view.PutScalarValue(static_cast<std::size_t>(entries.height),
                                static_cast<std::uint32_t>(trim.height));
    }
}

}  // namespace plume
