// Makes the scratch files the text-key weights are read from: one per General sort order, each
// with a table keying every character of the Basic Multilingual Plane, alone and followed by an
// accented letter (whose accent shows the accent bytes a character leaves at the end of its key),
// in an ascending and a descending index. The keys are written by the independent reader's Java
// library, whose sort-order tables were taken from Access. Run by scripts/text-weights.sh:
//   javac -cp ACCESS_ORACLE_JAR -d /tmp tools/TextKeyCodes.java
//   java -cp ACCESS_ORACLE_JAR:/usr/share/java/commons-lang3.jar:/usr/share/java/commons-logging.jar:/tmp \
//        TextKeyCodes V2000 legacy.mdb      (General, as Access 2000 to 2007 key it)
//   java ... TextKeyCodes V2010 general.accdb  (General, as Access 2010 and later key it)
// Each row's Id is the unit's code times two, plus one for the text with the accented letter.
// With a third argument, a seed, the file holds instead random texts, most of up to 12
// characters, some long, some ending in spaces, for checking the keys built from the weights against the library's own.
import com.healthmarketscience.jackcess.*;
import java.io.File;
import java.nio.file.*;
import java.util.*;

public class TextKeyCodes {
    static final char ACCENTED = '\u00E9';

    public static void main(String[] args) throws Exception {
        Database.FileFormat format = Database.FileFormat.valueOf(args[0]);
        Files.deleteIfExists(Paths.get(args[1]));
        try (Database db = DatabaseBuilder.create(format, new File(args[1]))) {
            Table keys = new TableBuilder("Keys")
                .addColumn(new ColumnBuilder("Id", DataType.LONG))
                .addColumn(new ColumnBuilder("Text", DataType.TEXT).setLengthInUnits(255))
                .addIndex(new IndexBuilder("Up").addColumns("Text"))
                .addIndex(new IndexBuilder("Down").addColumns(false, "Text"))
                .toTable(db);
            List<Object[]> rows = new ArrayList<>();
            if (args.length > 2) {
                Random random = new Random(Long.parseLong(args[2]));
                for (int id = 0; id < 20000; ++id) rows.add(new Object[] {id, RandomText(random)});
            } else {
                for (int c = 0; c <= 0xFFFF; ++c) {
                    String alone = String.valueOf((char) c);
                    rows.add(new Object[] {2 * c, alone});
                    rows.add(new Object[] {2 * c + 1, alone + ACCENTED});
                }
            }
            keys.addRows(rows);
        }
    }

    // Texts mixing every kind of character: weighed, accented, weightless, ignored.
    static String RandomText(Random random) {
        StringBuilder text = new StringBuilder();
        int length = random.nextInt(8) == 0 ? 200 + random.nextInt(50) : 1 + random.nextInt(12);
        while (text.length() < length) {
            int c;
            switch (random.nextInt(4)) {
            case 0: c = 0x20 + random.nextInt(0x60); break;   // ASCII
            case 1: c = 0xA0 + random.nextInt(0x1E0); break;  // Latin with accents
            case 2: c = 1 + random.nextInt(0x3000); break;    // anything up to the CJK symbols
            default: c = 1 + random.nextInt(0xFFFF); break;
            }
            if (Character.isSurrogate((char) c)) continue;
            text.append((char) c);
            if (random.nextInt(16) == 0) text.appendCodePoint(0x10000 + random.nextInt(0x10000));  // beyond the plane
            if (random.nextInt(16) == 0) text.append(' ');
        }
        return text.toString();
    }
}
