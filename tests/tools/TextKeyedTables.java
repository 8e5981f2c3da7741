// Makes tests/data/textkeyed.mdb: a copy of regression.mdb with two tables keyed by text, added
// through the independent reader's Java library, as a forecaster's station and observation
// tables are keyed, with station names in Chinese, Cyrillic and Greek and a descending text
// index among them. Run from tests/:
//   javac -cp ../../shared/tools/access-oracle.jar -d /tmp tools/TextKeyedTables.java
//   java -cp ../../shared/tools/access-oracle.jar:/usr/share/java/commons-lang3.jar:/usr/share/java/commons-logging.jar:/tmp \
//        TextKeyedTables data/regression.mdb data/textkeyed.mdb
import com.healthmarketscience.jackcess.*;
import java.io.File;
import java.nio.file.*;

public class TextKeyedTables {
    public static void main(String[] args) throws Exception {
        Files.copy(Paths.get(args[0]), Paths.get(args[1]), StandardCopyOption.REPLACE_EXISTING);
        try (Database db = new DatabaseBuilder(new File(args[1])).open()) {
            // A station table keyed by its code, its name indexed too.
            Table stations = new TableBuilder("StationList")
                .addColumn(new ColumnBuilder("Code", DataType.TEXT).setLength(20))
                .addColumn(new ColumnBuilder("Name", DataType.TEXT).setLength(100))
                .addColumn(new ColumnBuilder("Latitude", DataType.DOUBLE))
                .addIndex(new IndexBuilder(IndexBuilder.PRIMARY_KEY_NAME).addColumns("Code").setPrimaryKey())
                .addIndex(new IndexBuilder("Name").addColumns("Name"))
                .addIndex(new IndexBuilder("NameDown").addColumns(false, "Name"))
                .toTable(db);
            // Station names as forecasters type them: Latin, Chinese, Cyrillic and Greek.
            String[][] rows = {{"58362", "Shanghai Baoshan", "31.4"}, {"54511", "Beijing", "39.8"},
                               {"ZRH", "Zürich-Kloten", "47.5"}, {"BOG", "Bogotá El Dorado", "4.7"},
                               {"o'hare", "Chicago O'Hare", "41.98"}, {"GRU", "São Paulo-Guarulhos", "-23.4"},
                               {"北京", "北京 南郊观象台", "39.8"}, {"57494", "武汉", "30.6"},
                               {"Москва", "Москва ВДНХ", "55.8"}, {"27612", "Москва-Балчуг", "55.7"},
                               {"Αθήνα", "Αθήνα Ελληνικό", "37.9"}, {"16716", "Ελληνικό", "37.9"}};
            for (String[] r : rows) stations.addRow(r[0], r[1], Double.parseDouble(r[2]));
            // Observations keyed by (station, year, month): text and numbers in one key.
            Table obs = new TableBuilder("Observations")
                .addColumn(new ColumnBuilder("Station", DataType.TEXT).setLength(20))
                .addColumn(new ColumnBuilder("Year", DataType.INT))
                .addColumn(new ColumnBuilder("Month", DataType.BYTE))
                .addColumn(new ColumnBuilder("Rain", DataType.DOUBLE))
                .addColumn(new ColumnBuilder("Observed", DataType.SHORT_DATE_TIME))
                .addIndex(new IndexBuilder(IndexBuilder.PRIMARY_KEY_NAME).addColumns("Station", "Year", "Month").setPrimaryKey())
                .addIndex(new IndexBuilder("ByDate").addColumns("Observed", "Station"))
                .toTable(db);
            for (String[] r : rows)
                for (int year = 2019; year <= 2021; ++year)
                    for (int month = 1; month <= 12; month += 5)
                        obs.addRow(r[0], year, month, (year * 7 + month * 13) % 97 / 4.0,
                                   java.time.LocalDateTime.of(year, month, 15, 0, 0));
        }
    }
}
