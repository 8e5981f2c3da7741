// Makes tests/data/related.mdb: an Access 2000 file made by the independent reader's Java library,
// whose tables are related as a station archive's are, with every rule Access enforces:
//   Stations -> Observations  (Code -> Station)             cascades updates and deletes
//   Stations -> Series        (Code -> Station)             cascades updates and deletes
//   Series   -> Months        (Station, Year)               cascades updates and deletes
//   Observations -> Audits    (Id -> Observation)           refuses while related records exist
//   Elements -> Readings      (Code -> Element)             refuses while related records exist
//   Regions  -> Sites         (Id -> Region)                empties the field on delete
//   Staff    -> Staff         (Id -> Boss)                  cascades deletes
// The library numbers the other side of a table's relationship with itself wrongly (its own
// reading of the file then fails); the number is mended in the file as Access would write it.
//   Gauges   -> Calibrations  (Id -> Gauge)                 Calibrations has a Decimal index
// Run from tests/:
//   javac -cp ../../shared/tools/access-oracle.jar -d /tmp tools/RelatedTables.java
//   java -cp ../../shared/tools/access-oracle.jar:/usr/share/java/commons-lang3.jar:/usr/share/java/commons-logging.jar:/tmp \
//        RelatedTables data/related.mdb
import com.healthmarketscience.jackcess.*;
import java.io.File;
import java.io.RandomAccessFile;
import java.math.BigDecimal;

public class RelatedTables {
    static Table table(Database db, String name, String[] key, ColumnBuilder... columns) throws Exception {
        TableBuilder b = new TableBuilder(name);
        for (ColumnBuilder c : columns) b.addColumn(c);
        b.addIndex(new IndexBuilder(IndexBuilder.PRIMARY_KEY_NAME).addColumns(key).setPrimaryKey());
        return b.toTable(db);
    }

    static ColumnBuilder text(String name) { return new ColumnBuilder(name, DataType.TEXT).setLengthInUnits(30); }
    static ColumnBuilder col(String name, DataType type) { return new ColumnBuilder(name, type); }

    static RelationshipBuilder relate(Table from, Table to, String... columns) {
        RelationshipBuilder r = new RelationshipBuilder(from, to).setReferentialIntegrity();
        for (int i = 0; i < columns.length; i += 2) r.addColumns(columns[i], columns[i + 1]);
        return r;
    }

    // In the definition of the table on page, the logical index numbered number that refers to
    // the same table's index wrong is made to refer to right (Jet 4 descriptor, 28 bytes: ...,
    // number, real index, side, the other's index, the other's page, ...).
    static void mendSelfReference(String file, int page, int number, int wrong, int right) throws Exception {
        try (RandomAccessFile f = new RandomAccessFile(file, "rw")) {
            byte[] p = new byte[4096];
            f.seek((long) page * 4096);
            f.readFully(p);
            for (int i = 0; i + 21 <= p.length; ++i) {
                if (le(p, i) == number && p[i + 8] == 1 && le(p, i + 9) == wrong && le(p, i + 13) == page) {
                    f.seek((long) page * 4096 + i + 9);
                    f.write(new byte[] {(byte) right, 0, 0, 0});
                    return;
                }
            }
            throw new IllegalStateException("self reference not found");
        }
    }

    static int le(byte[] p, int i) {
        return (p[i] & 0xFF) | (p[i + 1] & 0xFF) << 8 | (p[i + 2] & 0xFF) << 16 | (p[i + 3] & 0xFF) << 24;
    }

    public static void main(String[] args) throws Exception {
        int staffPage;
        try (Database db = new DatabaseBuilder(new File(args[0])).setFileFormat(Database.FileFormat.V2000).create()) {
            Table stations = table(db, "Stations", new String[] {"Code"}, text("Code"), text("Name"));
            Table observations = table(db, "Observations", new String[] {"Id"}, col("Id", DataType.LONG), text("Station"),
                                       col("Year", DataType.INT), col("Rain", DataType.DOUBLE));
            Table series = table(db, "Series", new String[] {"Station", "Year"}, text("Station"), col("Year", DataType.INT),
                                 col("Mean", DataType.DOUBLE));
            Table months = table(db, "Months", new String[] {"Station", "Year", "Month"}, text("Station"),
                                 col("Year", DataType.INT), col("Month", DataType.BYTE), col("Rain", DataType.DOUBLE));
            relate(stations, observations, "Code", "Station").setCascadeUpdates().setCascadeDeletes().toRelationship(db);
            relate(stations, series, "Code", "Station").setCascadeUpdates().setCascadeDeletes().toRelationship(db);
            relate(series, months, "Station", "Station", "Year", "Year").setCascadeUpdates().setCascadeDeletes().toRelationship(db);

            Table audits = table(db, "Audits", new String[] {"Id"}, col("Id", DataType.LONG), col("Observation", DataType.LONG),
                                 text("Note"));
            relate(observations, audits, "Id", "Observation").toRelationship(db);

            Table elements = table(db, "Elements", new String[] {"Code"}, col("Code", DataType.LONG), text("Name"));
            Table readings = table(db, "Readings", new String[] {"Id"}, col("Id", DataType.LONG), col("Element", DataType.LONG),
                                   col("Value", DataType.DOUBLE));
            relate(elements, readings, "Code", "Element").toRelationship(db);

            Table regions = table(db, "Regions", new String[] {"Id"}, col("Id", DataType.LONG), text("Name"));
            Table sites = table(db, "Sites", new String[] {"Id"}, col("Id", DataType.LONG), col("Region", DataType.LONG), text("Name"));
            relate(regions, sites, "Id", "Region").setCascadeNullOnDelete().toRelationship(db);

            Table staff = table(db, "Staff", new String[] {"Id"}, col("Id", DataType.LONG), col("Boss", DataType.LONG), text("Name"));

            Table gauges = table(db, "Gauges", new String[] {"Id"}, col("Id", DataType.LONG), text("Name"));
            Table calibrations = new TableBuilder("Calibrations")
                .addColumn(col("Id", DataType.LONG)).addColumn(col("Gauge", DataType.LONG))
                .addColumn(col("Factor", DataType.NUMERIC).setPrecision(10).setScale(4))
                .addIndex(new IndexBuilder(IndexBuilder.PRIMARY_KEY_NAME).addColumns("Id").setPrimaryKey())
                .addIndex(new IndexBuilder("Factor").addColumns("Factor"))
                .toTable(db);
            relate(gauges, calibrations, "Id", "Gauge").toRelationship(db);

            String[][] codes = {{"58362", "Baoshan"}, {"54511", "Beijing"}, {"ZRH", "Kloten"}};
            for (String[] s : codes) stations.addRow(s[0], s[1]);
            int id = 1;
            for (String[] s : codes)
                for (int year = 2019; year <= 2021; ++year) {
                    observations.addRow(id++, s[0], year, year % 7 + 0.5);
                    series.addRow(s[0], year, year % 5 + 0.25);
                    for (int month = 1; month <= 12; month += 4) months.addRow(s[0], year, month, month * 1.5);
                }
            observations.addRow(id++, null, 2020, 1.0);  // no station: allowed
            audits.addRow(1, 5, "gauge overflowed");  // Beijing, 2020

            elements.addRow(1, "Rain");
            elements.addRow(2, "Temperature");
            elements.addRow(3, "Wind");
            readings.addRow(1, 1, 12.5);
            readings.addRow(2, 1, 3.0);
            readings.addRow(3, 2, -4.5);

            regions.addRow(1, "North");
            regions.addRow(2, "South");
            sites.addRow(1, 1, "Hill");
            sites.addRow(2, 1, "Lake");
            sites.addRow(3, 2, "Coast");

            staff.addRow(1, null, "Director");
            staff.addRow(2, 1, "Head of forecasting");
            staff.addRow(3, 2, "Forecaster");
            staff.addRow(4, 3, "Trainee");
            staff.addRow(5, 1, "Head of instruments");
            // Related once filled: the library cannot add records to a table related to itself.
            relate(staff, staff, "Id", "Boss").setCascadeDeletes().toRelationship(db);
            staffPage = ((com.healthmarketscience.jackcess.impl.TableImpl) staff).getTableDefPageNumber();

            gauges.addRow(1, "Tipping bucket");
            calibrations.addRow(1, 1, new BigDecimal("1.0250"));
        }
        // Staff's indexes: 0 the primary key, 1 the side referred to, 2 the side referring.
        mendSelfReference(args[0], staffPage, 1, 1, 2);
    }
}
