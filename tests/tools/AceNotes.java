// Makes tests/data/notes.accdb: a new Access 2007 file made by the independent reader's Java
// library, with a table of station notes in a memo field: short ones kept in the row, one on a
// long-value row and one on a chain of them, as a forecaster's remarks are stored. Run from tests/:
//   javac -cp ../../shared/tools/access-oracle.jar -d /tmp tools/AceNotes.java
//   java -cp ../../shared/tools/access-oracle.jar:/usr/share/java/commons-lang3.jar:/usr/share/java/commons-logging.jar:/tmp \
//        AceNotes data/notes.accdb
import com.healthmarketscience.jackcess.*;
import java.io.File;

public class AceNotes {
    static String repeat(String s, int n) {
        StringBuilder b = new StringBuilder();
        for (int i = 0; i < n; ++i) b.append(s).append(i % 10);
        return b.toString();
    }

    public static void main(String[] args) throws Exception {
        try (Database db = new DatabaseBuilder(new File(args[0])).setFileFormat(Database.FileFormat.V2007).create()) {
            Table notes = new TableBuilder("Notes")
                .addColumn(new ColumnBuilder("Station", DataType.TEXT).setLength(20))
                .addColumn(new ColumnBuilder("Year", DataType.INT))
                .addColumn(new ColumnBuilder("Note", DataType.MEMO))
                .toTable(db);
            notes.addRow("58362", 2020, "雨量站 moved 2 km north");
            notes.addRow("54511", 2021, repeat("北京观象台 pluviometer calibrated; ", 60));
            notes.addRow("ZRH", 2022, repeat("Föhn episode, gauge heated — 焚风 ", 600));
            notes.addRow("BOG", 2023, null);
        }
    }
}
