#include "data/format/read/Text.h"

#include <algorithm>
#include <array>
#include <stdexcept>

#include "support/TextCodec.h"

namespace quorlin::jet {

namespace {

bool IsCompressed(TView bytes) noexcept
{
    return bytes.size() >= 2 && bytes[0] == CompressedTextMark[0] && bytes[1] == CompressedTextMark[1];
}

// Back to plain UTF-16: one-byte characters widened, two-byte ones copied.
std::string Expand(TView bytes)
{
    std::string units;
    units.reserve(2 * bytes.size());
    bool compressed = true;
    for (std::size_t i = sizeof CompressedTextMark; i < bytes.size();) {
        if (bytes[i] == 0) {
            compressed = !compressed;
            ++i;
        } else if (compressed) {
            units.push_back(static_cast<char>(bytes[i++]));
            units.push_back('\0');
        } else {
            const std::size_t n = std::min<std::size_t>(2, bytes.size() - i);
            units.append(reinterpret_cast<const char*>(bytes.data() + i), n);
            i += n;
        }
    }
    return units;
}

// The common case: compressed text that is all ASCII is already UTF-8.
bool IsCompressedAscii(TView bytes) noexcept
{
    return std::all_of(bytes.begin() + sizeof CompressedTextMark, bytes.end(),
                       [](std::uint8_t b) { return b != 0 && b < 0x80; });
}

std::string_view Chars(TView bytes) noexcept
{
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

using database_page::DefaultCodePage;
using database_page::Jet3CodePage;
using database_page::ScrambledStart;
constexpr auto& HeaderKey = database_page::ScrambleKey;

// The scrambling of the database page.
void Rc4(std::uint8_t* data, std::size_t size)
{
    std::array<std::uint8_t, 256> s{};
    for (unsigned i = 0; i < 256; ++i) s[i] = static_cast<std::uint8_t>(i);
    for (unsigned i = 0, j = 0; i < 256; ++i) {
        j = (j + s[i] + HeaderKey[i % std::size(HeaderKey)]) & 0xFF;
        std::swap(s[i], s[j]);
    }
    for (std::size_t k = 0, i = 0, j = 0; k < size; ++k) {
        i = (i + 1) & 0xFF;
        j = (j + s[i]) & 0xFF;
        std::swap(s[i], s[j]);
        data[k] ^= s[(s[i] + s[j]) & 0xFF];
    }
}

}  // namespace

std::string DecodeText(TView bytes, const TFormat& format, unsigned codePage)
{
    if (format.Version == TVersion::Jet3) {
        try {
            return CodePageToUtf8Lenient(Chars(bytes), codePage == 0 ? DefaultCodePage : codePage);
        } catch (const std::runtime_error&) {  // a code page this system has no converter for
            return CodePageToUtf8Lenient(Chars(bytes), DefaultCodePage);
        }
    }
    if (!IsCompressed(bytes)) return Utf16LeToUtf8Lenient(Chars(bytes));
    if (IsCompressedAscii(bytes)) return std::string(Chars(bytes.subspan(sizeof CompressedTextMark)));
    return Utf16LeToUtf8Lenient(Expand(bytes));
}

std::u16string Utf16Units(TView bytes)
{
    const std::string plain = IsCompressed(bytes) ? Expand(bytes) : std::string(Chars(bytes));
    std::u16string units(plain.size() / 2, u'\0');
    for (std::size_t i = 0; i < units.size(); ++i)
        units[i] = static_cast<char16_t>(static_cast<std::uint8_t>(plain[2 * i]) | static_cast<std::uint8_t>(plain[2 * i + 1]) << 8);
    return units;
}

unsigned DatabaseCodePage(const TPages& pages)
{
    std::array<std::uint8_t, Jet3CodePage + 2 - ScrambledStart> head{};
    std::copy_n(pages.Page(0) + ScrambledStart, head.size(), head.begin());
    Rc4(head.data(), head.size());
    const unsigned codePage = Get16(head.data() + Jet3CodePage - ScrambledStart);
    return codePage == 0 ? DefaultCodePage : codePage;
}

}  // namespace quorlin::jet
