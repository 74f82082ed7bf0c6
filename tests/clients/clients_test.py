#!/usr/bin/python3
"""Third-party ODBC clients against one driver through the unixODBC driver manager.

pyodbc (Debian's python3-pyodbc, with its default settings: text read and sent as SQL_C_WCHAR)
and unixODBC's own isql and iusql, each case written once and run against our driver and the
SQLite ODBC driver alike, so that every expectation is what a real driver does. The script
makes its own odbcinst.ini and odbc.ini in a temporary folder (ODBCSYSINI, ODBCINI) and removes
the folder at the end.

    /usr/bin/python3 clients_test.py --driver qix --library /path/to/libqix_lite_odbc.so
    /usr/bin/python3 clients_test.py --driver sqlite --library /usr/lib/.../libsqlite3odbc.so
"""
import argparse
import datetime
import decimal
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

ARGS = None
FOLDER = None
DSN = "clients"

# What differs between the drivers: the schema name the catalogue shows for the main file, and
# the cases that do not apply to a driver, with the reason.
DRIVERS = {
    "qix": {"schema": "MAIN", "skip": {}},
    "sqlite": {
        "schema": None,
        "skip": {
            "test_error_classes": "the SQLite ODBC driver reports every SQLite error as HY000",
            "test_fast_executemany": "pyodbc dies of a segmentation fault in the SQLite ODBC driver",
            "test_64_bit_integers": "the SQLite ODBC driver describes INTEGER as SQL_INTEGER and cuts to 32 bits",
            "test_datetime_keeps_microseconds": "the SQLite ODBC driver keeps milliseconds only",
            "test_decimals": "the SQLite ODBC driver returns NUMBER(16,2) as rounded text",
            "test_description_tells_not_null_columns": "the SQLite ODBC driver calls every column nullable",
        },
    },
}


def setUpModule():
    global FOLDER
    FOLDER = tempfile.mkdtemp(prefix="qix-clients-")
    with open(os.path.join(FOLDER, "odbcinst.ini"), "w") as f:
        f.write(f"[Under test]\nDriver = {ARGS.library}\n")
    attributes = {"qix": f"Database = {FOLDER}/main.db\nSchemas = CFG\nCreate = yes\n",
                  "sqlite": f"Database = {FOLDER}/main.db\n"}[ARGS.driver]
    with open(os.path.join(FOLDER, "odbc.ini"), "w") as f:
        f.write(f"[{DSN}]\nDriver = Under test\n{attributes}")
    os.environ["ODBCSYSINI"] = FOLDER
    os.environ["ODBCINI"] = os.path.join(FOLDER, "odbc.ini")


def tearDownModule():
    shutil.rmtree(FOLDER, ignore_errors=True)


class Clients(unittest.TestCase):
    counter = 0

    def setUp(self):
        reason = DRIVERS[ARGS.driver]["skip"].get(self._testMethodName)
        if reason:
            self.skipTest(reason)
        import pyodbc
        self.pyodbc = pyodbc
        self.cnxn = pyodbc.connect(f"DSN={DSN}")
        self.cursor = self.cnxn.cursor()
        Clients.counter += 1
        self.table = f"T{Clients.counter}"

    def tearDown(self):
        self.cnxn.close()

    def create(self, columns):
        self.cursor.execute(f"CREATE TABLE {self.table} ({columns})")
        self.cnxn.commit()

    def round_trip(self, declared, values):
        """Inserts each value as a parameter into a column of the declared type and reads them back."""
        self.create(f"ID INTEGER PRIMARY KEY, V {declared}")
        self.cursor.executemany(f"INSERT INTO {self.table} (ID, V) VALUES (?, ?)", list(enumerate(values)))
        self.cnxn.commit()
        return [row[0] for row in self.cursor.execute(f"SELECT V FROM {self.table} ORDER BY ID").fetchall()]

    def test_non_ascii_text(self):
        values = ["Grüße aus Köln", "日本語のテキスト", "emoji \U0001F600 and \u20ac", "", "plain"]
        self.assertEqual(self.round_trip("VARCHAR2(100)", values), values)

    def test_nulls_in_every_type(self):
        self.create("ID INTEGER PRIMARY KEY, A VARCHAR2(10), B INTEGER, C DOUBLE, D NUMBER(10,2), E TIMESTAMP(6), F BLOB")
        self.cursor.execute(f"INSERT INTO {self.table} VALUES (1, ?, ?, ?, ?, ?, ?)", None, None, None, None, None, None)
        self.cnxn.commit()
        row = self.cursor.execute(f"SELECT A, B, C, D, E, F FROM {self.table}").fetchone()
        self.assertEqual(list(row), [None] * 6)

    def test_64_bit_integers(self):
        values = [2**63 - 1, -2**63, 2**31, -2**31 - 1, 0]
        self.assertEqual(self.round_trip("INTEGER", values), values)

    def test_doubles(self):
        values = [1.5e300, -0.1, 2.0**-1074, 123456789.125]
        self.assertEqual(self.round_trip("DOUBLE", values), values)

    def test_decimals(self):
        values = [decimal.Decimal("12345678901234.56"), decimal.Decimal("-0.01"), decimal.Decimal("0.00")]
        self.assertEqual(self.round_trip("NUMBER(16,2)", values), values)

    def test_datetime_keeps_microseconds(self):
        values = [datetime.datetime(2024, 3, 5, 14, 7, 9, 123456), datetime.datetime(1999, 12, 31, 23, 59, 59, 1)]
        self.assertEqual(self.round_trip("TIMESTAMP(6)", values), values)

    def test_date(self):
        value = datetime.date(2024, 2, 29)
        [read] = self.round_trip("DATE", [value])
        # A DATE with a time of day reads as a datetime at midnight; a pure date as a date.
        if isinstance(read, datetime.datetime):
            self.assertEqual(read, datetime.datetime(2024, 2, 29))
        else:
            self.assertEqual(read, value)

    def test_one_megabyte_text_and_blob(self):
        text = ("Grüße " * 200000)[:1000000]
        blob = bytes(range(256)) * 4096
        self.create("ID INTEGER PRIMARY KEY, T CLOB, B BLOB")
        self.cursor.execute(f"INSERT INTO {self.table} VALUES (1, ?, ?)", text, blob)
        self.cnxn.commit()
        t, b = self.cursor.execute(f"SELECT T, B FROM {self.table}").fetchone()
        self.assertEqual(len(t), len(text))
        self.assertEqual(t, text)
        self.assertEqual(b, blob)

    def test_catalogue(self):
        self.create("ID INTEGER PRIMARY KEY, NAME VARCHAR2(30) NOT NULL, SHOT TIMESTAMP(6)")
        self.cursor.execute(f"CREATE INDEX {self.table}_NAME ON {self.table} (NAME)")
        schema = DRIVERS[ARGS.driver]["schema"]
        tables = [(r.table_schem, r.table_name, r.table_type) for r in self.cursor.tables(table=self.table)]
        self.assertEqual(tables, [(schema, self.table, "TABLE")])
        columns = [(r.column_name, r.data_type, r.nullable, r.ordinal_position)
                   for r in self.cursor.columns(table=self.table)]
        self.assertEqual([c[0] for c in columns], ["ID", "NAME", "SHOT"])
        self.assertEqual(columns[1][1:], (self.pyodbc.SQL_VARCHAR, 0, 2))
        self.assertEqual(columns[2][1:], (self.pyodbc.SQL_TYPE_TIMESTAMP, 1, 3))
        timestamp = self.cursor.getTypeInfo(self.pyodbc.SQL_TYPE_TIMESTAMP).fetchone()
        self.assertGreaterEqual(timestamp.column_size, 26, "room for microseconds")
        self.assertEqual([r.column_name for r in self.cursor.primaryKeys(self.table)], ["ID"])
        indexes = [(r.index_name, r.column_name) for r in self.cursor.statistics(self.table) if r.index_name]
        self.assertIn((f"{self.table}_NAME", "NAME"), indexes)

    def test_fast_executemany(self):
        self.create("ID INTEGER PRIMARY KEY, NAME VARCHAR2(30), X DOUBLE")
        rows = [(i, f"név {i}", i / 4) for i in range(1000)]
        self.cursor.fast_executemany = True
        self.cursor.executemany(f"INSERT INTO {self.table} VALUES (?, ?, ?)", rows)
        self.cnxn.commit()
        read = [tuple(r) for r in self.cursor.execute(f"SELECT ID, NAME, X FROM {self.table} ORDER BY ID")]
        self.assertEqual(read, rows)

    def test_error_classes(self):
        with self.assertRaises(self.pyodbc.ProgrammingError):
            self.cursor.execute("SELEC 1")
        with self.assertRaises(self.pyodbc.ProgrammingError):
            self.cursor.execute("SELECT * FROM NO_SUCH_TABLE")
        self.create("ID INTEGER PRIMARY KEY")
        self.cursor.execute(f"INSERT INTO {self.table} VALUES (1)")
        with self.assertRaises(self.pyodbc.IntegrityError):
            self.cursor.execute(f"INSERT INTO {self.table} VALUES (1)")

    def test_description_tells_not_null_columns(self):
        self.create("ID INTEGER PRIMARY KEY, NAME VARCHAR2(30) NOT NULL, NOTE VARCHAR2(30)")
        self.cursor.execute(f"SELECT ID, NAME, NOTE FROM {self.table}")
        self.assertEqual([d[6] for d in self.cursor.description], [False, False, True])

    def isql(self, program, statements):
        """Runs statements through isql or iusql in batch mode; returns the output lines."""
        done = subprocess.run([program, "-b", "-d|", "-c", DSN], input=("\n".join(statements) + "\n").encode(),
                              capture_output=True, timeout=120)
        # iusql prints every UTF-16 unit of a wide column as one byte, whatever the driver.
        output = done.stdout.decode("latin-1" if program == "iusql" else "utf-8")
        self.assertEqual(done.returncode, 0, output + done.stderr.decode(errors="replace"))
        return output.splitlines()

    def test_isql_and_iusql_show_rows(self):
        self.create("ID INTEGER PRIMARY KEY, NAME VARCHAR2(30), X DOUBLE")
        self.cursor.execute(f"INSERT INTO {self.table} VALUES (1, 'Grüße', 1.5), (2, NULL, NULL)")
        self.cnxn.commit()
        for program in ("isql", "iusql"):
            with self.subTest(program=program):
                lines = self.isql(program, [f"SELECT ID, NAME, X FROM {self.table} ORDER BY ID"])
                self.assertEqual(lines[:3], ["ID|NAME|X", "1|Grüße|1.5", "2||"])

    def test_isql_help_lists_tables_and_columns(self):
        self.create("ID INTEGER PRIMARY KEY, NAME VARCHAR2(30)")
        for program in ("isql", "iusql"):
            with self.subTest(program=program):
                lines = self.isql(program, ["help"])
                self.assertTrue(any(f"|{self.table}|TABLE|" in line for line in lines), "\n".join(lines))
                lines = self.isql(program, [f"help {self.table}"])
                names = [line.split("|")[3] for line in lines[1:] if line.count("|") > 3]
                self.assertEqual(names, ["ID", "NAME"], "\n".join(lines))


def main():
    global ARGS
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--driver", choices=sorted(DRIVERS), required=True)
    parser.add_argument("--library", required=True, help="the driver's shared library")
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
