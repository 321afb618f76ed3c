'use strict';
// Cross-checks our catalogue reader and writer against an independent implementation of
// the same page format (better-sqlite3-multiple-ciphers, default ChaCha20 scheme).
//
//   node cross_check.js WORK_DIR DUMP_EXECUTABLE CATALOGUE_TOOL
//
// (a) files written by the library, page sizes 1024/4096/65536 and a non-ASCII password,
//     read through our driver give exactly the library's rows;
// (b) files written by our tool open in the library with the password, pass
//     PRAGMA integrity_check and give the rows our driver gives;
// plus wrong-password and library-modified cases.
const fs = require('fs');
const path = require('path');
const { spawnSync } = require('child_process');
const Database = require('better-sqlite3-multiple-ciphers');

const [workDir, dumpExe, toolExe] = process.argv.slice(2);
if (!workDir || !dumpExe || !toolExe) {
    console.error('usage: node cross_check.js WORK_DIR DUMP_EXECUTABLE CATALOGUE_TOOL');
    process.exit(1);
}
fs.mkdirSync(workDir, { recursive: true });

const PASSWORD = "Schlüssel-密码-ключ-🔑 it's";
const PAGE_SIZES = [1024, 4096, 65536];
const FIXED_NOW = 1764892800; // 2025-12-05 00:00:00 UTC
let passed = 0;
let failed = 0;

function check(condition, label, detail) {
    if (condition) {
        passed += 1;
        console.log(`ok   ${label}`);
    } else {
        failed += 1;
        console.log(`FAIL ${label}${detail ? ': ' + detail : ''}`);
    }
}

function quote(text) {
    return "'" + text.replace(/'/g, "''") + "'";
}

function openLibrary(file, password) {
    const db = new Database(file);
    db.pragma("cipher='chacha20'");
    if (password !== undefined)
        db.pragma(`key=${quote(password)}`);
    return db;
}

function fresh(file) {
    for (const suffix of ['', '-journal', '-wal', '-shm'])
        fs.rmSync(file + suffix, { force: true });
}

// Values tagged by storage class, the form the dump program prints.
function tag(value) {
    if (value === null || value === undefined)
        return { t: 'n' };
    if (typeof value === 'bigint')
        return { t: 'i', v: value.toString() };
    if (typeof value === 'number')
        return { t: 'r', v: value };
    if (typeof value === 'string')
        return { t: 's', v: value };
    if (Buffer.isBuffer(value))
        return { t: 'b', v: value.toString('hex') };
    return { t: '?', v: String(value) };
}

function libraryRows(db, sql) {
    return db.prepare(sql).safeIntegers(true).raw(true).all().map((row) => row.map(tag));
}

function dumpRows(file, sql, password) {
    const result = spawnSync(dumpExe, [file, sql], {
        env: { ...process.env, TESSALY_ORACLE_PASSWORD: password },
        encoding: 'utf8',
        maxBuffer: 512 * 1024 * 1024,
    });
    if (result.status !== 0)
        return { status: result.status, error: (result.stderr || '').trim(), rows: [] };
    const rows = result.stdout.split('\n').filter((line) => line.length > 0).map((line) => JSON.parse(line));
    for (const row of rows) {
        for (const value of row) {
            if (value.t === 'r')
                value.v = Number(value.v);
        }
    }
    return { status: 0, error: '', rows };
}

function sameValue(a, b) {
    if (a.t !== b.t)
        return false;
    if (a.t === 'n')
        return true;
    if (a.t === 'r')
        return Object.is(a.v, b.v) || (a.v === b.v);
    return a.v === b.v;
}

function compareRows(ours, theirs) {
    if (ours.length !== theirs.length)
        return `row count ${ours.length} vs ${theirs.length}`;
    for (let r = 0; r < ours.length; ++r) {
        if (ours[r].length !== theirs[r].length)
            return `row ${r}: ${ours[r].length} vs ${theirs[r].length} columns`;
        for (let c = 0; c < ours[r].length; ++c) {
            if (!sameValue(ours[r][c], theirs[r][c]))
                return `row ${r} column ${c}: ours ${JSON.stringify(ours[r][c])} vs ${JSON.stringify(theirs[r][c])}`;
        }
    }
    return '';
}

// Small deterministic generator for the library-made data.
function makeRandom(seed) {
    let state = BigInt(seed);
    return () => {
        state = (state * 6364136223846793005n + 1442695040888963407n) & 0xFFFFFFFFFFFFFFFFn;
        return Number(state >> 33n);
    };
}

const SPECIAL_INTEGERS = [0n, -1n, 1n, 9007199254740993n, -9223372036854775808n, 9223372036854775807n];
const SPECIAL_REALS = [0.1, -2.5e-300, 1e300, 3.0, -0.0, 123456.789];
const WORDS = ['Café', 'naïve', 'Ærø', '東京', 'Москва', '🙂', "it's", '%_like', 'plain'];

function makeLibraryCatalogue(file, pageSize) {
    fresh(file);
    const db = openLibrary(file, PASSWORD);
    db.pragma(`page_size=${pageSize}`);
    db.exec('CREATE TABLE mixed(id INTEGER PRIMARY KEY, i INTEGER, r REAL, s TEXT, b BLOB, n)');
    db.exec('CREATE TABLE published_bookinfo(UID INTEGER PRIMARY KEY, LID INTEGER, BookName TEXT, BookAuthor TEXT, '
        + 'BookCatalogIDS TEXT, OrgPrice REAL, BookPages INTEGER, BookSize INTEGER, BookStars REAL, IntroLong TEXT, '
        + 'FirstPubTimeGMT INTEGER)');
    db.exec('CREATE TABLE runtime_cataloginfo(UID INTEGER PRIMARY KEY, LID INTEGER, Calc_BookCount INTEGER, Caption TEXT)');
    db.exec('CREATE TABLE native_loadrecall(pname TEXT PRIMARY KEY, pvalue)');
    const random = makeRandom(pageSize);
    const insertMixed = db.prepare('INSERT INTO mixed VALUES(?,?,?,?,?,?)').safeIntegers(true);
    const insertBook = db.prepare('INSERT INTO published_bookinfo VALUES(?,?,?,?,?,?,?,?,?,?,?)');
    db.transaction(() => {
        for (let id = 1; id <= 1500; ++id) {
            const i = id <= SPECIAL_INTEGERS.length ? SPECIAL_INTEGERS[id - 1] : BigInt(random()) - 1000000000n;
            const r = id <= SPECIAL_REALS.length ? SPECIAL_REALS[id - 1] : random() / 997;
            let s = WORDS[random() % WORDS.length] + ' ' + id;
            if (id % 50 === 0)
                s = s.repeat(Math.ceil((pageSize * 2.5) / s.length)); // overflow pages
            if (id % 77 === 0)
                s = '';
            const blobLength = id % 13 === 0 ? 0 : random() % (id % 40 === 0 ? pageSize * 2 : 64);
            const b = Buffer.alloc(blobLength);
            for (let k = 0; k < blobLength; ++k)
                b[k] = random() & 0xff;
            insertMixed.run(BigInt(id), id % 17 === 0 ? null : i, id % 19 === 0 ? null : r, s,
                id % 23 === 0 ? null : b, id % 2 === 0 ? BigInt(id) : 'text');
        }
        for (let uid = 1; uid <= 300; ++uid) {
            insertBook.run(uid, 1000 + uid, `Book ${uid} ${WORDS[uid % WORDS.length]}`, `Author ${uid % 31}`,
                `|${1 + (uid % 12)}|`, uid % 9 === 0 ? null : (uid % 60) + 0.99, [200, 201, 400, 401][uid % 4],
                512000 + (uid % 2), uid % 11 === 0 ? null : 1 + (uid % 5), `Description of book ${uid}`,
                FIXED_NOW - uid * 3600);
        }
        const insertCategory = db.prepare('INSERT INTO runtime_cataloginfo VALUES(?,?,?,?)');
        for (let uid = 1; uid <= 12; ++uid)
            insertCategory.run(uid, 50 + uid, 25, uid === 3 ? 'Arts & Crafts' : `Category ${uid}`);
        const insertRecall = db.prepare('INSERT INTO native_loadrecall VALUES(?,?)');
        insertRecall.run('current_guid', `lib-made-${pageSize}`);
        insertRecall.run('free_ebooks_count', '300');
        insertRecall.run('current_ebooks_count', 300);
        insertRecall.run('free_ebooks_week_new', '12');
        insertRecall.run('free_ebooks_week_revoked', '3');
        insertRecall.run('current_time_utc', FIXED_NOW);
    })();
    db.exec('CREATE INDEX mixed_s ON mixed(s)');
    db.close();
    const reader = openLibrary(file, PASSWORD);
    const rows = libraryRows(reader, 'SELECT * FROM mixed ORDER BY id');
    reader.close();
    return rows;
}

function runTool(args) {
    return spawnSync(toolExe, args, { encoding: 'utf8' });
}

// (a) library-made files read through our driver and tool.
for (const pageSize of PAGE_SIZES) {
    const file = path.join(workDir, `library-${pageSize}.db`);
    const expected = makeLibraryCatalogue(file, pageSize);
    const header = fs.readFileSync(file).subarray(16, 24);
    check(((header[0] << 8) | header[1]) === (pageSize === 65536 ? 1 : pageSize) && header[4] === 32,
        `library file ${pageSize}: page size and reserve in the plain header`);
    const ours = dumpRows(file, 'SELECT * FROM mixed ORDER BY id', PASSWORD);
    check(ours.status === 0, `library file ${pageSize}: opens through our driver`, ours.error);
    check(ours.rows.length === 1500 && compareRows(ours.rows, expected) === '',
        `library file ${pageSize}: every row equal`, compareRows(ours.rows, expected));
    const byIndex = dumpRows(file, "SELECT id, s FROM mixed WHERE s >= 'M' ORDER BY s, id", PASSWORD);
    const libDb = openLibrary(file, PASSWORD);
    const expectedByIndex = libraryRows(libDb, "SELECT id, s FROM mixed WHERE s >= 'M' ORDER BY s, id");
    check(compareRows(byIndex.rows, expectedByIndex) === '', `library file ${pageSize}: index scan equal`,
        compareRows(byIndex.rows, expectedByIndex));
    libDb.close();
    const integrity = dumpRows(file, 'PRAGMA integrity_check', PASSWORD);
    check(integrity.rows.length === 1 && integrity.rows[0][0].v === 'ok',
        `library file ${pageSize}: integrity_check through our driver`, JSON.stringify(integrity.rows.slice(0, 3)));
    const wrong = dumpRows(file, 'SELECT * FROM mixed', PASSWORD + 'x');
    check(wrong.status === 2 && wrong.error.length > 0, `library file ${pageSize}: wrong password refused`);

    const info = runTool(['info', file, '--password', PASSWORD]);
    check(info.status === 0 && info.stdout.includes(`guid=lib-made-${pageSize}\n`)
        && info.stdout.includes('books=300\n') && info.stdout.includes('categories=12\n')
        && info.stdout.includes('status=Total 300 Tessaly (12 tessaly are new arrivals this week, 3 books are no longer free.'),
        `library file ${pageSize}: tessaly-catalogue info`, info.stdout + info.stderr);
    const badInfo = runTool(['info', file, '--password', 'not the key']);
    check(badInfo.status === 2 && badInfo.stdout === '' && badInfo.stderr.trim().split('\n').length === 1,
        `library file ${pageSize}: info with a wrong password fails with one line`, badInfo.stderr);
}

// (b) files made by our tool open in the library.
const TABLE_QUERIES = [
    'SELECT * FROM published_bookinfo ORDER BY UID',
    'SELECT * FROM runtime_cataloginfo ORDER BY UID',
    'SELECT * FROM native_loadrecall ORDER BY pname',
];
for (const pageSize of PAGE_SIZES) {
    const file = path.join(workDir, `ours-${pageSize}.db`);
    fresh(file);
    const made = runTool(['generate', '--books', '1500', '--categories', '30', '--seed', '11', '--page-size',
        String(pageSize), '--now', String(FIXED_NOW), '--password', PASSWORD, '--out', file]);
    check(made.status === 0, `our file ${pageSize}: generated`, made.stderr);
    let db;
    try {
        db = openLibrary(file, PASSWORD);
        const integrity = db.pragma('integrity_check');
        check(integrity.length === 1 && integrity[0].integrity_check === 'ok',
            `our file ${pageSize}: library integrity_check`, JSON.stringify(integrity));
        for (const sql of TABLE_QUERIES) {
            const theirs = libraryRows(db, sql);
            const ours = dumpRows(file, sql, PASSWORD);
            check(theirs.length > 0 && compareRows(ours.rows, theirs) === '', `our file ${pageSize}: ${sql}`,
                compareRows(ours.rows, theirs));
        }
    } catch (error) {
        check(false, `our file ${pageSize}: library opens it`, String(error));
    } finally {
        if (db)
            db.close();
    }
}

// A plain database without reserved bytes, encrypted by our tool (re-made on the way).
{
    const plain = path.join(workDir, 'plain-source.db');
    const encrypted = path.join(workDir, 'plain-encrypted.db');
    fresh(plain);
    fresh(encrypted);
    const db = new Database(plain);
    db.exec('CREATE TABLE t(id INTEGER PRIMARY KEY, v TEXT, w REAL)');
    const insert = db.prepare('INSERT INTO t VALUES(?,?,?)');
    db.transaction(() => {
        for (let id = 1; id <= 2000; ++id)
            insert.run(id, `value ${id} ${WORDS[id % WORDS.length]}`, id / 8);
    })();
    const expected = libraryRows(db, 'SELECT * FROM t ORDER BY id');
    db.close();
    const result = runTool(['encrypt', plain, encrypted, '--password', PASSWORD]);
    check(result.status === 0, 'encrypt command on a plain database', result.stderr);
    const lib = openLibrary(encrypted, PASSWORD);
    check(lib.pragma('integrity_check')[0].integrity_check === 'ok', 'encrypted copy: library integrity_check');
    check(compareRows(libraryRows(lib, 'SELECT * FROM t ORDER BY id'), expected) === '', 'encrypted copy: library rows');
    lib.close();
    const ours = dumpRows(encrypted, 'SELECT * FROM t ORDER BY id', PASSWORD);
    check(compareRows(ours.rows, expected) === '', 'encrypted copy: our rows', compareRows(ours.rows, expected));
}

// The library may change a file we wrote; we still read it.
{
    const file = path.join(workDir, 'ours-4096.db');
    const db = openLibrary(file, PASSWORD);
    db.exec("UPDATE published_bookinfo SET BookName = 'Changed by the library' WHERE UID % 100 = 0");
    db.exec("INSERT INTO runtime_cataloginfo VALUES(999, 1, 10, 'Added Later')");
    const expected = libraryRows(db, 'SELECT UID, BookName FROM published_bookinfo ORDER BY UID');
    db.close();
    const ours = dumpRows(file, 'SELECT UID, BookName FROM published_bookinfo ORDER BY UID', PASSWORD);
    check(compareRows(ours.rows, expected) === '', 'library-modified file: our rows', compareRows(ours.rows, expected));
    const integrity = dumpRows(file, 'PRAGMA integrity_check', PASSWORD);
    check(integrity.rows.length === 1 && integrity.rows[0][0].v === 'ok', 'library-modified file: our integrity_check');
}

// A checkpointed WAL-mode file reads like a rollback file; a log left beside it is never read.
{
    const file = path.join(workDir, 'library-wal.db');
    fresh(file);
    const db = openLibrary(file, PASSWORD);
    db.pragma('journal_mode=WAL');
    db.exec('CREATE TABLE t(id INTEGER PRIMARY KEY, v TEXT)');
    const insert = db.prepare('INSERT INTO t VALUES(?,?)');
    db.transaction(() => {
        for (let id = 1; id <= 500; ++id)
            insert.run(id, `wal row ${id}`);
    })();
    db.close();
    const header = fs.readFileSync(file).subarray(16, 24);
    check(header[2] === 2 && header[3] === 2 && !fs.existsSync(file + '-wal'), 'WAL file: header says WAL, log checkpointed');
    const reader = openLibrary(file, PASSWORD);
    const expected = libraryRows(reader, 'SELECT * FROM t ORDER BY id');
    reader.close();
    const ours = dumpRows(file, 'SELECT * FROM t ORDER BY id', PASSWORD);
    check(ours.status === 0 && compareRows(ours.rows, expected) === '', 'WAL file: our rows', ours.error || compareRows(ours.rows, expected));
    fs.writeFileSync(file + '-wal', Buffer.alloc(4096, 1));
    const stray = dumpRows(file, 'SELECT * FROM t ORDER BY id', PASSWORD);
    check(stray.status === 0 && compareRows(stray.rows, expected) === '', 'WAL file with a stray log: the same rows',
          stray.error || compareRows(stray.rows, expected));
    fs.rmSync(file + '-wal', { force: true });
}

console.log(`${passed} passed, ${failed} failed`);
process.exit(failed === 0 ? 0 : 1);
