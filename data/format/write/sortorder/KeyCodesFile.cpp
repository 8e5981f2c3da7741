#include "data/format/write/sortorder/KeyCodesFile.h"

#include <fstream>
#include <limits>
#include <ostream>
#include <sstream>
#include <stdexcept>

namespace quorlin::jet {

namespace {

constexpr std::size_t Characters = 0x10000;
constexpr char KindLetters[] = "NWAMPC";  // in the order of TCharKind

TBytes ParseBytes(const std::string& field)
{
    TBytes bytes;
    if (field == "-") return bytes;
    if (field.size() % 2 != 0) throw std::runtime_error("odd count of hexadecimal digits: " + field);
    for (std::size_t i = 0; i < field.size(); i += 2) bytes.push_back(static_cast<std::uint8_t>(std::stoul(field.substr(i, 2), nullptr, 16)));
    return bytes;
}

std::string BytesField(const TBytes& bytes)
{
    if (bytes.empty()) return "-";
    static constexpr char Digits[] = "0123456789ABCDEF";
    std::string s;
    for (const std::uint8_t b : bytes) {
        s += Digits[b >> 4];
        s += Digits[b & 15];
    }
    return s;
}

// The field a run varies in: a positioned character's code, else its weight.
TBytes& Varying(TCharCode& c) { return c.Kind == TCharKind::Positioned ? c.Code : c.Weight; }
const TBytes& Varying(const TCharCode& c) { return c.Kind == TCharKind::Positioned ? c.Code : c.Weight; }

// bytes + step, as big-endian numbers of the same length; false when it does not fit.
bool Add(TBytes& bytes, std::int64_t step)
{
    std::int64_t carry = step;
    for (std::size_t i = bytes.size(); i-- > 0 && carry != 0;) {
        const std::int64_t v = bytes[i] + carry;
        bytes[i] = static_cast<std::uint8_t>(v & 0xFF);
        carry = (v - (v & 0xFF)) / 256;
    }
    return carry == 0;
}

std::int64_t Difference(const TBytes& a, const TBytes& b)
{
    std::int64_t x = 0, y = 0;
    for (const std::uint8_t v : a) x = x * 256 + v;
    for (const std::uint8_t v : b) y = y * 256 + v;
    return y - x;
}

// Whether next is one step on from c, in a run.
bool Follows(const TCharCode& c, const TCharCode& next, std::int64_t step)
{
    TCharCode expected = c;
    return Varying(c).size() <= 7 && Add(Varying(expected), step) && expected == next;
}

TCharCode ParseCode(std::istringstream& line)
{
    std::string kind, weight, accent, code, mark;
    if (!(line >> kind >> weight >> accent >> code >> mark) || kind.size() != 1) throw std::runtime_error("too few fields");
    const char* letter = std::char_traits<char>::find(KindLetters, std::size(KindLetters) - 1, kind[0]);
    if (!letter) throw std::runtime_error("unknown kind " + kind);
    TCharCode c;
    c.Kind = static_cast<TCharKind>(letter - KindLetters);
    c.Weight = ParseBytes(weight);
    c.Accent = ParseBytes(accent);
    c.Code = ParseBytes(code);
    c.Mark = mark == "-" ? 0 : static_cast<std::uint8_t>(std::stoul(mark));
    return c;
}

}  // namespace

std::vector<TCharCode> ReadKeyCodes(const std::string& path)
{
    std::ifstream in(path);
    if (!in) throw std::runtime_error("cannot read " + path);
    std::vector<TCharCode> codes(Characters);
    std::string text;
    for (std::size_t number = 1; std::getline(in, text); ++number) {
        if (text.empty() || text[0] == '#') continue;
        try {
            std::istringstream line(text);
            std::string first;
            std::size_t count = 0;
            std::int64_t step = 0;
            if (!(line >> first >> count >> step)) throw std::runtime_error("too few fields");
            const std::size_t at = std::stoul(first, nullptr, 16);
            TCharCode c = ParseCode(line);
            if (at + count > Characters || count == 0) throw std::runtime_error("characters beyond U+FFFF");
            for (std::size_t i = 0; i < count; ++i) {
                codes[at + i] = c;
                if (!Add(Varying(c), step) && i + 1 < count) throw std::runtime_error("the run overflows its field");
            }
        } catch (const std::exception& e) {
            throw std::runtime_error(path + ", line " + std::to_string(number) + ": " + e.what());
        }
    }
    return codes;
}

void WriteKeyCodes(std::ostream& out, const std::vector<TCharCode>& codes)
{
    for (std::size_t c = 0; c < codes.size();) {
        const TCharCode& first = codes[c];
        std::size_t count = 1;
        std::int64_t step = 0;
        if (c + 1 < codes.size() && Varying(first).size() == Varying(codes[c + 1]).size() && !Varying(first).empty())
            step = Difference(Varying(first), Varying(codes[c + 1]));
        while (c + count < codes.size() && Follows(codes[c + count - 1], codes[c + count], step)) ++count;
        if (first.Kind != TCharKind::Ignored) {
            char head[64];
            std::snprintf(head, sizeof head, "%04zX %zu %lld ", c, count, static_cast<long long>(count > 1 ? step : 0));
            out << head << KindLetters[static_cast<int>(first.Kind)] << ' ' << BytesField(first.Weight) << ' '
                << BytesField(first.Accent) << ' ' << BytesField(first.Code) << ' '
                << (first.Kind == TCharKind::Marked ? std::to_string(first.Mark) : "-") << '\n';
        }
        c += count;
    }
}

TPackedTables Pack(const std::vector<TCharCode>& codes)
{
    TPackedTables t;
    t.Entries.reserve(codes.size());
    for (const TCharCode& c : codes) t.Entries.push_back(Packed(c, t.Bytes));
    return t;
}

TPackedCodes Packed(const TCharCode& c, std::vector<std::uint8_t>& bytes)
{
    for (const TBytes* part : {&c.Weight, &c.Accent, &c.Code})
        if (part->size() > std::numeric_limits<std::uint8_t>::max()) throw std::runtime_error("codes too long");
    const TPackedCodes e{static_cast<std::uint32_t>(bytes.size()),
                         static_cast<std::uint8_t>(static_cast<unsigned>(c.Kind) | unsigned{c.Mark} << TPackedCodes::KindBits),
                         static_cast<std::uint8_t>(c.Weight.size()), static_cast<std::uint8_t>(c.Accent.size()),
                         static_cast<std::uint8_t>(c.Code.size())};
    for (const TBytes* part : {&c.Weight, &c.Accent, &c.Code}) bytes.insert(bytes.end(), part->begin(), part->end());
    return e;
}

}  // namespace quorlin::jet
