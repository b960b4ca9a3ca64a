#!/usr/bin/env bash
# Creates demo/: a configuration, a catalogue of a few saved queries, a target database and
# a private ODBC configuration whose data source reads the same target.
set -euo pipefail
cd "$(dirname "$0")/.."
demo="$PWD/demo"
rm -rf "$demo"
mkdir -p "$demo"

cat > "$demo/VELARIO.ini" <<INI
RELEASE=1.0
UP_DATE=06/12/2026
DIR_PRG=$demo/
DIR_DBF=$demo/VELARIO2.db
DIR_BTR=$demo/
ANNO_DF=2026
INI

# The target: a database file whose name ends in .MDB, so that the catalogue window takes
# it for a database file when it is typed in.
sqlite3 "$demo/VENDITE.MDB" <<'SQL'
CREATE TABLE CLIENTI (CODICE TEXT PRIMARY KEY, NOME TEXT, CITTA TEXT, FIDO REAL);
INSERT INTO CLIENTI VALUES
 ('C001','Rossi Mario S.r.l.','Milano',15000),
 ('C002','Bianchi & Figli','Torino',8000),
 ('C003','Verdi Forniture','Bologna',NULL),
 ('C004','Esposito Trasporti','Napoli',22000.5),
 ('C005','Ferrari Alimentari','Modena',5000);
CREATE TABLE ORDINI (NUMERO INTEGER PRIMARY KEY, CLIENTE TEXT, DATA TEXT, IMPORTO REAL);
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i < 2500)
INSERT INTO ORDINI SELECT i, printf('C%03d', 1 + i % 5),
  date('2026-01-01', '+' || (i % 330) || ' days'), round(50 + (i * 37 % 1000) * 1.25, 2) FROM n;
SQL

build/tools/velario-newcat "$demo/VELARIO2.db"
sqlite3 "$demo/VELARIO2.db" <<SQL
INSERT INTO SELEZIONI_SQL VALUES
 ('CLIENTI', 'Elenco clienti', 'SELECT * FROM CLIENTI ORDER BY NOME', '$demo/VENDITE.MDB', 'MDB'),
 ('FIDO', 'Clienti con fido oltre 10.000', 'SELECT CODICE, NOME, FIDO
FROM CLIENTI
WHERE FIDO > 10000', '$demo/VENDITE.MDB', 'MDB'),
 ('ORDINI', 'Ordini dell''anno', 'SELECT * FROM ORDINI ORDER BY DATA, NUMERO', '$demo/VENDITE.MDB', 'MDB'),
 ('TOT_CLIENTE', 'Totale ordinato per cliente', 'SELECT c.NOME, count(*) AS N_ORDINI, sum(o.IMPORTO) AS TOTALE
FROM ORDINI o JOIN CLIENTI c ON c.CODICE = o.CLIENTE
GROUP BY c.NOME ORDER BY TOTALE DESC', '$demo/VENDITE.MDB', 'MDB'),
 ('ODBC_CLIENTI', 'Clienti via ODBC', 'SELECT NOME, CITTA FROM CLIENTI', 'VENDITE_ODBC', 'ODBC');
SQL

driver=$(ls /usr/lib/*/odbc/libsqlite3odbc.so 2>/dev/null | head -n 1 || true)
cat > "$demo/odbcinst.ini" <<INI
[SQLite3]
Description=SQLite3 ODBC Driver
Driver=$driver
INI
cat > "$demo/odbc.ini" <<INI
[VENDITE_ODBC]
Driver=SQLite3
Database=$demo/VENDITE.MDB
NoCreat=1
INI
echo "demo: $demo"
