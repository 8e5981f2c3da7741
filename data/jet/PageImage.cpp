#include "PageImage.h"

namespace quorlin::jet {

TPageImage::TPageImage(std::string path, TBytes bytes, const TFormat& format)
    : FPath(std::move(path)), FFormat(&format), FLoaded(bytes), FBytes(std::move(bytes))
{
}

std::uint8_t* TPageImage::Page(std::uint32_t n)
{
    Pages().Page(n);  // raises EDamaged for a page beyond the end
    return FBytes.data() + std::size_t{n} * FFormat->PageSize;
}

std::span<std::uint8_t> TPageImage::Row(TRowId row)
{
    const TView bytes = RowBytes(Pages(), row);
    const auto start = static_cast<std::size_t>(bytes.data() - FBytes.data());
    return std::span<std::uint8_t>(FBytes.data() + start, bytes.size());
}

std::uint32_t TPageImage::AppendPage()
{
    FBytes.resize(FBytes.size() + FFormat->PageSize, 0);
    return PageCount() - 1;
}

}  // namespace quorlin::jet
