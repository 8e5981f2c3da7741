// Turns a sort order's codes file into the C++ table the program keeps it in, at build time:
//   quorlin-generate-sort-order CODES-FILE FUNCTION-NAME OUTPUT.cpp
#include <fstream>
#include <iostream>

#include "data/format/write/sortorder/KeyCodesFile.h"

using namespace quorlin::jet;

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::cerr << "usage: quorlin-generate-sort-order CODES-FILE FUNCTION-NAME OUTPUT.cpp\n";
        return 2;
    }
    try {
        const TPackedTables t = Pack(ReadKeyCodes(argv[1]));
        std::ofstream out(argv[3]);
        out << "// Generated from " << argv[1] << " at build time; not to be edited.\n"
            << "#include \"data/format/write/SortOrder.h\"\n\nnamespace quorlin::jet {\n\nnamespace {\n\n"
            << "constexpr TPackedCodes Entries[] = {\n";
        for (const TPackedCodes& e : t.Entries)
            out << '{' << e.At << ',' << int(e.KindAndMark) << ',' << int(e.WeightSize) << ',' << int(e.AccentSize) << ','
                << int(e.CodeSize) << "},\n";
        out << "};\n\nconstexpr std::uint8_t Bytes[] = {\n";
        for (std::size_t i = 0; i < t.Bytes.size(); ++i) out << int(t.Bytes[i]) << (i % 32 == 31 ? ",\n" : ",");
        if (t.Bytes.empty()) out << "0";
        out << "};\n\nconstexpr TSortOrder Order(Entries, Bytes);\n\n}  // namespace\n\n"
            << "const TSortOrder& " << argv[2] << "() noexcept { return Order; }\n\n}  // namespace quorlin::jet\n";
        if (!out.flush()) throw std::runtime_error(std::string("cannot write ") + argv[3]);
        return 0;
    } catch (const std::exception& e) {
        std::cerr << e.what() << "\n";
        return 1;
    }
}
