// Makes tests/data/hostileviews.mdb: a copy of regression.mdb with saved select queries of the
// kinds a hostile sender would mail, written as Access stores a query (a row of MSysObjects and
// rows of MSysQueries), through the independent reader's Java library:
//   SixFold        every column of ElNino joined with itself six times (61^6 rows of 78 columns)
//   SixFoldCount   the number of records of that join: all work, one record
//   Printf         printf("%.*c", 2000000000, "x"): a gigabyte from one call
//   Replace        replace(zeroblob(100000000), X'00', "ab"): a hundred megabytes
//   Version, Json, Unicode, Instr   SQLite's own functions, which Access does not have
//   Master         a subquery reading sqlite_master, the engine's own schema
//   PragmaTable    a subquery reading pragma_table_info, the engine's pragma as a table
//   Listed         the Access functions the views may use, with Like, two tables crossed, grouping
// Run from tests/:
//   javac -cp ../../shared/tools/access-oracle.jar -d /tmp tools/HostileViews.java
//   java -cp ../../shared/tools/access-oracle.jar:/usr/share/java/commons-lang3.jar:/usr/share/java/commons-logging.jar:/tmp \
//        HostileViews data/regression.mdb data/hostileviews.mdb
import com.healthmarketscience.jackcess.*;
import java.io.File;
import java.nio.file.*;
import java.util.*;

public class HostileViews {
    // One row of MSysQueries: attribute, name1, name2, expression, flag.
    static Object[] part(int attribute, String name1, String name2, String expression, Integer flag) {
        return new Object[] {attribute, name1, name2, expression, flag};
    }

    static List<Object[]> select(String[] inputs, String[] aliases, String... columns) {
        List<Object[]> parts = new ArrayList<>();
        parts.add(part(0, null, null, null, 0));
        parts.add(part(1, null, null, null, 1));  // a select query
        parts.add(part(3, null, null, null, 0));
        for (int i = 0; i < inputs.length; ++i) parts.add(part(5, inputs[i], aliases == null ? null : aliases[i], null, null));
        for (int i = 0; i + 1 < columns.length; i += 2) parts.add(part(6, columns[i], null, columns[i + 1], 0));
        return parts;
    }

    static List<Object[]> one(String table, String alias, String expression) {
        return select(new String[] {table}, null, alias, expression);
    }

    static final String[] SIX = {"ElNino", "ElNino", "ElNino", "ElNino", "ElNino", "ElNino"};
    static final String[] SIX_ALIASES = {"A", "B", "C", "D", "E", "F"};

    static int nextId;

    static void addQuery(Table objects, Table queries, int parent, String name, List<Object[]> parts) throws Exception {
        final int id = nextId++;
        Map<String, Object> o = new HashMap<>();
        o.put("Id", id);
        o.put("ParentId", parent);
        o.put("Name", name);
        o.put("Type", (short) 5);
        o.put("Flags", 0);
        o.put("DateCreate", new Date());
        o.put("DateUpdate", new Date());
        o.put("Owner", new byte[] {(byte) 0xA7, 0x31});
        objects.addRowFromMap(o);
        int order = 1;
        for (Object[] p : parts) {
            Map<String, Object> q = new HashMap<>();
            q.put("ObjectId", id);
            q.put("Attribute", (byte) (int) (Integer) p[0]);
            q.put("Order", new byte[] {0, 0, 0, (byte) order++});
            q.put("Name1", p[1]);
            q.put("Name2", p[2]);
            q.put("Expression", p[3]);
            q.put("Flag", p[4] == null ? null : (short) (int) (Integer) p[4]);
            queries.addRowFromMap(q);
        }
    }

    public static void main(String[] args) throws Exception {
        Files.copy(Paths.get(args[0]), Paths.get(args[1]), StandardCopyOption.REPLACE_EXISTING);
        try (Database db = new DatabaseBuilder(new File(args[1])).open()) {
            Table objects = db.getSystemTable("MSysObjects");
            Table queries = db.getSystemTable("MSysQueries");
            // The new queries go where the file keeps its others, numbered after the last of them.
            int parent = 0;
            nextId = Integer.MIN_VALUE;
            for (Row r : objects) {
                if (r.get("Type") != null && ((Number) r.get("Type")).intValue() == 5) {
                    parent = (Integer) r.get("ParentId");
                    nextId = Math.max(nextId, (Integer) r.get("Id") + 1);
                }
            }
            addQuery(objects, queries, parent, "SixFold", select(SIX, SIX_ALIASES, null, "*"));
            addQuery(objects, queries, parent, "SixFoldCount", select(SIX, SIX_ALIASES, "N", "Count(*)"));
            addQuery(objects, queries, parent, "Printf", one("Weather", "P", "printf(\"%.*c\", 2000000000, \"x\")"));
            addQuery(objects, queries, parent, "Replace", one("Weather", "R", "replace(zeroblob(100000000), X'00', \"ab\")"));
            addQuery(objects, queries, parent, "Version", one("Weather", "V", "sqlite_version()"));
            addQuery(objects, queries, parent, "Json", one("Weather", "J", "json_array([Rain], [Temp])"));
            addQuery(objects, queries, parent, "Unicode", one("Stations", "U", "unicode([Station])"));
            addQuery(objects, queries, parent, "Instr", one("Stations", "I", "instr([Station], \"a\")"));
            addQuery(objects, queries, parent, "Master", one("Weather", "M", "(SELECT Count(*) FROM sqlite_master)"));
            addQuery(objects, queries, parent, "PragmaTable",
                     one("Weather", "T", "(SELECT Count(*) FROM pragma_table_info(\"Weather\"))"));
            List<Object[]> listed = select(new String[] {"Stations", "Weather"}, new String[] {"S", "W"},
                                           "Kind", "IIf(S.Temp > 18, \"warm\", \"cool\")",
                                           "Rain", "Sum(Nz(S.Rain, 0) + Int(W.Rain) + Sqr(Abs(W.Temp)))",
                                           "Head", "Mid(S.Station, 1, 3) & Len(S.Station)",
                                           "Day", "Max(Year(W.Temp) + Month(W.Temp) + Day(W.Temp))",
                                           "Stations", "Count(*)", "Mean", "Avg(W.Wind)", "Low", "Min(S.Wind)");
            listed.add(part(8, null, null, "S.Station Like \"S0?1\"", null));
            listed.add(part(9, null, null, "IIf(S.Temp > 18, \"warm\", \"cool\")", null));
            listed.add(part(9, null, null, "Mid(S.Station, 1, 3) & Len(S.Station)", null));
            listed.add(part(11, null, null, "Mid(S.Station, 1, 3) & Len(S.Station)", null));
            addQuery(objects, queries, parent, "Listed", listed);
        }
    }
}
