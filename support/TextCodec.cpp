#include "support/TextCodec.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>

#include "support/Messages.h"

namespace quorlin {

namespace {

class TIconv {
public:
    TIconv(const char* to, const char* from) : FHandle(iconv_open(to, from))
    {
        if (FHandle == reinterpret_cast<iconv_t>(-1))
            throw std::runtime_error(Format(Tr("No converter from %1$s to %2$s"), from, to));
    }
    ~TIconv() { iconv_close(FHandle); }
    TIconv(const TIconv&) = delete;
    TIconv& operator=(const TIconv&) = delete;
    iconv_t Get() const noexcept { return FHandle; }
    void Reset() noexcept { iconv(FHandle, nullptr, nullptr, nullptr, nullptr); }

private:
    iconv_t FHandle;
};

// Length of the UTF-8 sequence that starts with lead, or 1 for a byte that starts none.
std::size_t SequenceLength(unsigned char lead) noexcept
{
    if (lead >= 0xF0 && lead <= 0xF4) return 4;
    if (lead >= 0xE0) return lead <= 0xEF ? 3 : 1;
    if (lead >= 0xC2) return 2;
    return 1;
}

// Runs the whole input through the converter. At a sequence it cannot convert (EILSEQ), or one
// cut off at the end (EINVAL), invalid either raises or adds a replacement to out and moves the
// input past the sequence.
std::string RunConverter(TIconv& cd, const char* data, std::size_t size,
                         const std::function<void(std::string& out, char*& in, std::size_t& inLeft)>& invalid)
{
    std::string out;
    out.reserve(size);
    char buffer[512];
    auto* in = const_cast<char*>(data);
    std::size_t inLeft = size;
    while (inLeft > 0) {
        char* dst = buffer;
        std::size_t dstLeft = sizeof buffer;
        const std::size_t rc = iconv(cd.Get(), &in, &inLeft, &dst, &dstLeft);
        out.append(buffer, static_cast<std::size_t>(dst - buffer));
        if (rc != static_cast<std::size_t>(-1)) break;
        if (errno == E2BIG) continue;
        invalid(out, in, inLeft);
        cd.Reset();
    }
    return out;
}

std::string ConvertWhole(const char* to, const char* from, const char* data, std::size_t size)
{
    TIconv cd(to, from);
    return RunConverter(cd, data, size, [from](std::string&, char*&, std::size_t&) {
        throw std::invalid_argument(Format(Tr("Text is not valid %1$s"), from));
    });
}

// Replaces an undecodable unit of the source (two bytes of UTF-16, one byte of a code page).
auto ReplaceUnit(std::size_t unit)
{
    return [unit](std::string& out, char*& in, std::size_t& inLeft) {
        out += "\xEF\xBF\xBD";
        const std::size_t skip = std::min(unit, inLeft);
        in += skip;
        inLeft -= skip;
    };
}

TIconv& CachedConverter(const std::string& from)
{
    thread_local std::map<std::string, std::unique_ptr<TIconv>> converters;
    auto& cd = converters[from];
    if (!cd) cd = std::make_unique<TIconv>("UTF-8", from.c_str());
    cd->Reset();
    return *cd;
}

}  // namespace

std::string Utf16LeToUtf8Lenient(std::string_view bytes)
{
    return RunConverter(CachedConverter("UTF-16LE"), bytes.data(), bytes.size(), ReplaceUnit(2));
}

std::string CodePageToUtf8Lenient(std::string_view bytes, unsigned codePage)
{
    // Plain ASCII is the same in every code page and needs no converter.
    if (std::all_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
        return std::string(bytes);
    return RunConverter(CachedConverter("CP" + std::to_string(codePage)), bytes.data(), bytes.size(), ReplaceUnit(1));
}

std::string Utf8ToCp936(std::string_view utf8)
{
    TIconv cd("CP936", "UTF-8");
    // One "?" for each character the code page lacks (or each bad UTF-8 sequence), then on.
    return RunConverter(cd, utf8.data(), utf8.size(), [](std::string& out, char*& in, std::size_t& inLeft) {
        out.push_back('?');
        const std::size_t skip = std::min(SequenceLength(static_cast<unsigned char>(*in)), inLeft);
        std::size_t valid = 1;
        while (valid < skip && (static_cast<unsigned char>(in[valid]) & 0xC0) == 0x80) ++valid;
        in += valid;
        inLeft -= valid;
    });
}

std::u16string Utf8ToUtf16(std::string_view utf8)
{
    const std::string bytes = ConvertWhole("UTF-16LE", "UTF-8", utf8.data(), utf8.size());
    std::u16string out(bytes.size() / 2, u'\0');
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                       (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
    return out;
}

std::string Utf16ToUtf8(std::u16string_view utf16)
{
    std::string bytes;
    bytes.reserve(utf16.size() * 2);
    for (char16_t c : utf16) {
        bytes.push_back(static_cast<char>(c & 0xFF));
        bytes.push_back(static_cast<char>(c >> 8));
    }
    return ConvertWhole("UTF-8", "UTF-16LE", bytes.data(), bytes.size());
}

}  // namespace quorlin
