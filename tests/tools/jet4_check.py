#!/usr/bin/env python3
"""Independent consistency checker for one table of a Jet 4 (.mdb, 4096-byte page) file.

    jet4_check.py DATABASE TABLE

Prints a JSON object {"columns": [...], "rows": [[...], ...], "problems": [...]}. The exit
status is 0 when there are no problems, 1 when there are, and 2 on usage errors (bad
arguments, unreadable file, not a Jet 4 file, no such table).

What it checks, for the table and its indexes:
  * the TDEF row count equals the number of live rows found on the owned data pages;
  * every owned page is a data page that points back to this TDEF, has a correct free-space
    field and has rows that do not overlap;
  * every page in the free-space map is owned by the table;
  * each real index: the tree is walked from its root (nodes, tail pages, leaves, prefix
    compression). Entries are in strictly ascending byte order, the leaf chain
    (prev/next) is consistent, node entries match their child's last entry, the
    (page,row) pointers equal the set of live rows, and numeric keys decode to the row's
    values. The TDEF index row count is not below the number of distinct keys (Access
    counts keys ever added and never decrements), unique indexes hold no
    duplicate non-null keys, and every index page is in the index's usage map;
  * the TDEF autonumber value (the last number handed out) is not below any value of an
    autonumber column;
  * the global usage map (page 1) does not mark any page of the table or its indexes free.

Why it is independent: it is written in Python from the published format notes, shares
no code, constants table or library with the program's C++ writer, and reads the file
directly (no database library). A fault in the writer therefore cannot
be hidden by the same fault here.
"""
import json
import math
import struct
import sys

PAGE = 4096
DATA, TDEF, INODE, ILEAF, UMAP = 1, 2, 3, 4, 5
MASK_AT, FIRST_ENTRY = 0x1B, 0x1E0
BOOL, BYTE, INT, LONG, MONEY, FLOAT, DOUBLE, DATE, BINARY, TEXT, OLE, MEMO, GUID, NUMERIC = (
    1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 15, 16)
FIXED_SIZE = {BOOL: 0, BYTE: 1, INT: 2, LONG: 4, MONEY: 8, FLOAT: 4, DOUBLE: 8, DATE: 8,
              GUID: 16, NUMERIC: 17}
NUMERIC_KEY_TYPES = (BYTE, INT, LONG, MONEY, FLOAT, DOUBLE, DATE, BOOL)


def u16(b, o): return struct.unpack_from('<H', b, o)[0]
def u32(b, o): return struct.unpack_from('<I', b, o)[0]


class CheckError(Exception):
    """The file is too damaged to continue."""


class UsageError(Exception):
    """Not a Jet 4 file, or no such table: exit status 2."""


class Db:
    def __init__(self, path):
        with open(path, 'rb') as f:
            self.data = f.read()
        self.npages = len(self.data) // PAGE
        if self.npages < 3 or self.data[0x14] != 1:
            raise UsageError('%s is not a Jet 4 database' % path)

    def page(self, n):
        if not 0 < n < self.npages:
            raise CheckError('page %d out of range (file has %d pages)' % (n, self.npages))
        return self.data[n * PAGE:(n + 1) * PAGE]


# ---------------------------------------------------------------- data pages and rows

def row_slots(pg):
    """[(row number, start, end, flags)] for all slots of a data page; row i ends where row
    i-1 starts (row 0 ends at the end of the page)."""
    n = u16(pg, 12)
    slots, end = [], PAGE
    for r in range(n):
        w = u16(pg, 14 + 2 * r)
        start = w & 0x1FFF
        slots.append((r, start, end, w & 0xC000))
        end = start
    return slots


def row_bytes(db, page, row):
    pg = db.page(page)
    if pg[0] != DATA:
        raise CheckError('row pointer %d:%d is not on a data page' % (page, row))
    slots = row_slots(pg)
    if row >= len(slots):
        raise CheckError('row pointer %d:%d beyond the %d rows of the page' % (page, row, len(slots)))
    _, start, end, flags = slots[row]
    return pg[start:end], flags


def live_rows(db, pg, floor):
    """[(row number, row bytes or an error text)] for the live rows of a data page, with
    overflow rows read from where their pointer leads; also the pages those pointers name."""
    out, targets = [], set()
    for r, start, end, flags in row_slots(pg):
        if flags & 0x8000 or not floor <= start < end <= PAGE:
            continue
        b = pg[start:end]
        if flags & 0x4000:
            try:
                targets.add(u32(b, 0) >> 8)
                b, _ = row_bytes(db, u32(b, 0) >> 8, b[0])
            except (CheckError, struct.error) as e:
                b = 'overflow pointer: %s' % e
        out.append((r, b))
    return out, targets


def usage_map(db, ptr, what, problems, hosts=None):
    """Page numbers of the usage map row at row pointer ptr (row = low byte, page = rest)."""
    row, page = ptr & 0xFF, ptr >> 8
    try:
        b, _ = row_bytes(db, page, row)
    except CheckError as e:
        problems.append('%s usage map: %s' % (what, e))
        return set()
    if hosts is not None:
        hosts.add(page)
    pages = set()
    if b[:1] == b'\x00':
        start = u32(b, 1)
        for i, byte in enumerate(b[5:]):
            pages.update(start + i * 8 + k for k in range(8) if byte >> k & 1)
    elif b[:1] == b'\x01':
        for i in range((len(b) - 1) // 4):
            mp = u32(b, 1 + 4 * i)
            if mp == 0:
                continue
            try:
                m = db.page(mp)
            except CheckError as e:
                problems.append('%s usage map: %s' % (what, e))
                continue
            if m[0] != UMAP:
                problems.append('%s usage map: page %d is not a usage-map page' % (what, mp))
                continue
            if hosts is not None:
                hosts.add(mp)
            base = i * (PAGE - 4) * 8
            for j, byte in enumerate(m[4:]):
                pages.update(base + j * 8 + k for k in range(8) if byte >> k & 1)
    else:
        problems.append('%s usage map: unknown map type %r' % (what, b[:1]))
    return pages


# ---------------------------------------------------------------- table definition

def read_tdef(db, tpage):
    pg = db.page(tpage)
    if pg[0] != TDEF:
        raise CheckError('page %d is not a table definition' % tpage)
    buf, chain, nxt = bytearray(pg), [tpage], u32(pg, 4)
    while nxt:
        if nxt in chain:
            raise CheckError('TDEF page chain loops at page %d' % nxt)
        p = db.page(nxt)
        if p[0] != TDEF:
            raise CheckError('TDEF continuation page %d is not a TDEF page' % nxt)
        chain.append(nxt)
        buf += p[8:]
        nxt = u32(p, 4)
    b = bytes(buf)
    t = {'page': tpage, 'chain': chain, 'rows': u32(b, 16), 'autonum': u32(b, 20),
         'nvar': u16(b, 43), 'owned': u32(b, 55), 'free': u32(b, 59)}
    ncols, nlog, nreal = u16(b, 45), u32(b, 47), u32(b, 51)
    o = 63
    t['idx_counts'] = [u32(b, o + 12 * i + 4) for i in range(nreal)]
    o += 12 * nreal
    cols = []
    for i in range(ncols):
        c = b[o:o + 25]
        cols.append({'type': c[0], 'num': u16(c, 5), 'var': u16(c, 7), 'prec': c[11],
                     'scale': c[12], 'flags': c[15], 'fixoff': u16(c, 21), 'len': u16(c, 23)})
        o += 25
    for c in cols:
        n = u16(b, o)
        c['name'] = b[o + 2:o + 2 + n].decode('utf-16-le')
        o += 2 + n
    # In the order of their descriptors, as Access shows them; each number places the column's
    # value in the row.
    t['columns'] = cols
    bynum = {c['num']: c for c in cols}
    reals = []
    for i in range(nreal):
        d = b[o:o + 52]
        keys = []
        for k in range(10):
            num, order = u16(d, 4 + 3 * k), d[6 + 3 * k]
            if num != 0xFFFF:
                if num not in bynum:
                    raise CheckError('index %d uses unknown column %d' % (i, num))
                keys.append((bynum[num], order == 1))
        reals.append({'num': i, 'keys': keys, 'umap': u32(d, 34), 'root': u32(d, 38),
                      'flags': d[46], 'names': [], 'primary': False})
        o += 52
    logical = []
    for i in range(nlog):
        d = b[o:o + 28]
        logical.append((u32(d, 8), d[23]))
        o += 28
    for real_no, kind in logical:
        n = u16(b, o)
        name = b[o + 2:o + 2 + n].decode('utf-16-le')
        o += 2 + n
        if real_no < nreal:
            reals[real_no]['names'].append(name)
            reals[real_no]['primary'] |= kind == 1
    t['indexes'] = reals
    return t


# ---------------------------------------------------------------- values

def text(b):
    if b[:2] != b'\xff\xfe':
        return b.decode('utf-16-le', 'replace')
    out, i, compressed = [], 2, True
    while i < len(b):
        if b[i] == 0:
            compressed, i = not compressed, i + 1
        elif compressed:
            out.append(chr(b[i]))
            i += 1
        else:
            out.append(b[i:i + 2].decode('utf-16-le', 'replace'))
            i += 2
    return ''.join(out)


def memo(db, b):
    if len(b) < 12:
        return '<memo>'
    n, flags = u32(b, 0) & 0x3FFFFFFF, b[3]
    if flags & 0x80:
        return text(b[12:12 + n])
    if flags & 0x40:
        try:
            data, _ = row_bytes(db, u32(b, 4) >> 8, b[4])
            return text(data[:n])
        except CheckError:
            pass
    return '<memo>'


def fixed_value(c, b):
    t = c['type']
    if t == BYTE: return b[0]
    if t == INT: return struct.unpack_from('<h', b)[0]
    if t == LONG: return struct.unpack_from('<i', b)[0]
    if t == MONEY: return struct.unpack_from('<q', b)[0] / 10000
    if t == FLOAT: return struct.unpack_from('<f', b)[0]
    if t in (DOUBLE, DATE): return struct.unpack_from('<d', b)[0]
    if t == GUID:
        a, m, n = struct.unpack_from('<IHH', b)
        return '{%08X-%04X-%04X-%s-%s}' % (a, m, n, b[8:10].hex().upper(), b[10:16].hex().upper())
    if t == NUMERIC:
        mag = 0
        for k in range(4):
            mag = (mag << 32) | u32(b, 1 + 4 * k)
        return (-mag if b[0] & 0x80 else mag) / 10 ** c['scale']
    return b.hex()


def decode_row(db, tdef, b):
    ncols = u16(b, 0)
    mask_len = (ncols + 7) // 8
    mask = b[len(b) - mask_len:]
    var_off = []
    if tdef['nvar']:
        nv = u16(b, len(b) - mask_len - 2)
        tab = len(b) - mask_len - 2
        var_off = [u16(b, tab - 2 * (i + 1)) for i in range(nv)]
        var_off.append(u16(b, tab - 2 * (nv + 1)))        # eod closes the last column
    values = []
    for c in tdef['columns']:
        present = c['num'] < ncols and mask[c['num'] // 8] >> (c['num'] % 8) & 1
        if c['type'] == BOOL:
            values.append(bool(present))
        elif not present:
            values.append(None)
        elif c['flags'] & 1:
            o = 2 + c['fixoff']
            values.append(fixed_value(c, b[o:o + FIXED_SIZE.get(c['type'], c['len'])]))
        elif c['var'] + 1 < len(var_off):
            v = b[var_off[c['var']]:var_off[c['var'] + 1]]
            values.append(text(v) if c['type'] == TEXT else memo(db, v) if c['type'] == MEMO
                          else '<ole>' if c['type'] == OLE else fixed_value(c, v))
        else:
            values.append(None)
    return values


# ---------------------------------------------------------------- index pages

def index_page(db, n):
    """(page type, prev, next, tail, tdef page, free space, [full entry bytes], used bytes)."""
    pg = db.page(n)
    if pg[0] not in (INODE, ILEAF):
        raise CheckError('index page %d has page type %d' % (n, pg[0]))
    plen = u16(pg, 0x18)
    entries, last, prefix = [], 0, b''
    for bit in range((FIRST_ENTRY - MASK_AT) * 8):
        if pg[MASK_AT + bit // 8] >> (bit % 8) & 1:
            stored = pg[FIRST_ENTRY + last:FIRST_ENTRY + bit]
            if FIRST_ENTRY + bit > PAGE:
                raise CheckError('index page %d: entry mask runs past the page' % n)
            if not entries:
                prefix = stored[:plen]
                entries.append(stored)
            else:
                entries.append(prefix + stored)
            last = bit
    return (pg[0], u32(pg, 0x0C), u32(pg, 0x10), u32(pg, 0x14), u32(pg, 4), u16(pg, 2),
            entries, last)


def walk_index(db, idx, tpage, problems):
    """Leaf entries [(key bytes, page, row)] in tree order, and the set of index pages."""
    name = '/'.join(idx['names']) or 'index %d' % idx['num']
    pages, leaves, out = set(), [], []

    def visit(n, depth):
        if n in pages:
            raise CheckError('index %s: page %d reached twice' % (name, n))
        if depth > 16:
            raise CheckError('index %s: tree deeper than 16 levels' % name)
        pages.add(n)
        kind, prev, nxt, tail, owner, free, entries, used = index_page(db, n)
        if owner != tpage:
            problems.append('index %s: page %d names TDEF %d' % (name, n, owner))
        if free != PAGE - FIRST_ENTRY - used:
            problems.append('index %s: page %d free space %d, expected %d'
                            % (name, n, free, PAGE - FIRST_ENTRY - used))
        if kind == ILEAF:
            if tail:
                problems.append('index %s: leaf page %d has a tail page' % (name, n))
            leaves.append((n, prev, nxt))
            for e in entries:
                if len(e) < 5:
                    raise CheckError('index %s: page %d has a %d-byte entry' % (name, n, len(e)))
                out.append((e[:-4], int.from_bytes(e[-4:-1], 'big'), e[-1]))
            return entries[-1] if entries else None
        if any(len(e) < 9 for e in entries):
            raise CheckError('index %s: node page %d has a short entry' % (name, n))
        children = [(e[:-4], int.from_bytes(e[-4:], 'big')) for e in entries]
        if tail:
            children.append((None, tail))
        if not children:
            problems.append('index %s: node page %d is empty' % (name, n))
        last = None
        for expect, child in children:
            last = visit(child, depth + 1)
            if expect is not None and last != expect:
                problems.append('index %s: node page %d entry for child %d is not the '
                                'child\'s last entry' % (name, n, child))
        return last

    visit(idx['root'], 0)
    for i, (n, prev, nxt) in enumerate(leaves):
        want_prev = leaves[i - 1][0] if i else 0
        want_next = leaves[i + 1][0] if i + 1 < len(leaves) else 0
        if (prev, nxt) != (want_prev, want_next):
            problems.append('index %s: leaf %d links prev=%d next=%d, expected %d/%d'
                            % (name, n, prev, nxt, want_prev, want_next))
    return out, pages


def decode_key(key, cols):
    """Values of the leading numeric key columns; stops at the first other type."""
    vals, o = [], 0
    for c, asc in cols:
        t = c['type']
        if t not in NUMERIC_KEY_TYPES:
            break
        flag = key[o]
        o += 1
        if flag == (0x00 if asc else 0xFF):
            vals.append(None)
            continue
        if flag != (0x7F if asc else 0x80):
            raise ValueError('bad flag byte 0x%02x' % flag)
        size = 1 if t == BOOL else FIXED_SIZE[t]
        v = bytearray(key[o:o + size])
        o += size
        if len(v) != size:
            raise ValueError('key too short')
        if not asc:
            v = bytearray(x ^ 0xFF for x in v)
        if t == BOOL:                      # 0x00 = Yes, 0xff = No (ascending form)
            vals.append(v[0] == 0)
        elif t in (FLOAT, DOUBLE, DATE):
            if v[0] & 0x80:
                v[0] ^= 0x80
            else:
                v = bytearray(x ^ 0xFF for x in v)
            vals.append(struct.unpack('>f' if t == FLOAT else '>d', bytes(v))[0])
        elif t == BYTE:
            vals.append(v[0])
        else:
            v[0] ^= 0x80
            n = int.from_bytes(v, 'big', signed=True)
            vals.append(n / 10000 if t == MONEY else n)
    if len(vals) == len(cols) and o != len(key):
        raise ValueError('%d bytes left after the last key column' % (len(key) - o))
    return vals


def same(a, b):
    if isinstance(a, float) and isinstance(b, float) and math.isnan(a) and math.isnan(b):
        return True
    return a == b


# ---------------------------------------------------------------- the checks

def find_table(db, name):
    cat = read_tdef(db, 2)
    cols = [c['name'] for c in cat['columns']]
    want = ('Id', 'Name', 'Type')
    if any(w not in cols for w in want):
        raise CheckError('MSysObjects lacks the Id/Name/Type columns')
    at = [cols.index(w) for w in want]
    found = {}
    for page in sorted(usage_map(db, cat['owned'], 'MSysObjects', [])):
        pg = db.page(page)
        if pg[0] != DATA or u32(pg, 4) != 2:
            continue
        for r, b in live_rows(db, pg, 14 + 2 * u16(pg, 12))[0]:
            try:
                v = decode_row(db, cat, b)
            except (TypeError, struct.error, IndexError, ValueError):
                continue
            if v[at[2]] == 1 and v[at[1]] is not None:
                found[v[at[1]]] = v[at[0]] & 0xFFFFFF
    if name in found:
        return found[name]
    for k, v in found.items():
        if k.lower() == name.lower():
            return v
    raise UsageError('no table named %r (tables: %s)' % (name, ', '.join(sorted(found))))


def check(path, table):
    problems = []
    db = Db(path)
    tdef = read_tdef(db, find_table(db, table))
    tp = tdef['page']
    hosts = set()
    owned = usage_map(db, tdef['owned'], 'owned-pages', problems, hosts)
    free = usage_map(db, tdef['free'], 'free-space', problems, hosts)
    for p in sorted(free - owned):
        problems.append('free-space map lists page %d, which the table does not own' % p)

    rows, live, extra_pages = [], [], set()
    for p in sorted(owned):
        try:
            pg = db.page(p)
        except CheckError as e:
            problems.append('owned page: %s' % e)
            continue
        if pg[0] != DATA:
            problems.append('owned page %d is not a data page (type %d)' % (p, pg[0]))
            continue
        if u32(pg, 4) != tp:
            problems.append('data page %d names TDEF %d, not %d' % (p, u32(pg, 4), tp))
        slots = row_slots(pg)
        if len(slots) > 255:
            problems.append('data page %d has %d rows' % (p, len(slots)))
        floor = 14 + 2 * len(slots)
        used = 0
        for r, start, end, flags in slots:
            if not floor <= start < end <= PAGE:
                problems.append('data page %d row %d at %d..%d overlaps' % (p, r, start, end))
                continue
            used += end - start
        if u16(pg, 2) != PAGE - floor - used:
            problems.append('data page %d free space %d, expected %d'
                            % (p, u16(pg, 2), PAGE - floor - used))
        found, targets = live_rows(db, pg, floor)
        extra_pages |= targets
        for r, b in found:
            if isinstance(b, str):
                problems.append('row %d:%d %s' % (p, r, b))
                continue
            try:
                rows.append(decode_row(db, tdef, b))
                live.append((p, r))
            except (struct.error, IndexError, ValueError, TypeError) as e:
                problems.append('row %d:%d cannot be decoded: %s' % (p, r, e))
    if tdef['rows'] != len(rows):
        problems.append('TDEF row count %d, but %d rows found' % (tdef['rows'], len(rows)))

    colpos = {c['num']: i for i, c in enumerate(tdef['columns'])}
    for c in tdef['columns']:
        if c['type'] == LONG and c['flags'] & 4:
            top = max((r[colpos[c['num']]] for r in rows if r[colpos[c['num']]] is not None),
                      default=0)
            if tdef['autonum'] < top:
                problems.append('TDEF autonumber %d is below the largest %s value %d'
                                % (tdef['autonum'], c['name'], top))

    rowat = dict(zip(live, rows))
    index_pages = set()
    for k, idx in enumerate(tdef['indexes']):
        name = '/'.join(idx['names']) or 'index %d' % k
        try:
            entries, pages = walk_index(db, idx, tp, problems)
        except CheckError as e:
            problems.append(str(e))
            continue
        index_pages |= pages
        umap = usage_map(db, idx['umap'], 'index %s' % name, problems, hosts)
        for p in sorted(pages - umap):
            problems.append('index %s: page %d is not in the index usage map' % (name, p))
        full = [key + bytes([pg >> 16 & 0xFF, pg >> 8 & 0xFF, pg & 0xFF, r])
                for key, pg, r in entries]
        for i in range(1, len(full)):
            if full[i - 1] >= full[i]:
                problems.append('index %s: entry %d is not above entry %d' % (name, i, i - 1))
        # The TDEF count grows by one for every key value not yet in the index and never
        # shrinks (Access files show 7 for a 4-entry primary key, and 3 for 4 entries with
        # 3 distinct keys), so it can only be checked from below.
        distinct = len({key for key, _, _ in entries})
        if tdef['idx_counts'][k] < distinct:
            problems.append('index %s: TDEF index row count %d, below the %d distinct keys'
                            % (name, tdef['idx_counts'][k], distinct))
        pointers = [(pg, r) for _, pg, r in entries]

        def all_null(rid):
            return all(rowat[rid][colpos[c['num']]] is None for c, _ in idx['keys'])
        expect = {rid for rid in live if not (idx['flags'] & 2 and all_null(rid))}
        got = set(pointers)
        if len(got) != len(pointers):
            problems.append('index %s: a row is pointed at by more than one entry' % name)
        for rid in sorted(expect - got)[:10]:
            problems.append('index %s: no entry for row %d:%d' % (name, *rid))
        for rid in sorted(got - expect)[:10]:
            problems.append('index %s: entry points at %d:%d, which is no live row' % (name, *rid))
        unique, seen = idx['flags'] & 1 or idx['primary'], {}
        for key, pg, r in entries:
            try:
                vals = decode_key(key, idx['keys'])
            except (ValueError, IndexError) as e:
                problems.append('index %s: entry for %d:%d undecodable: %s' % (name, pg, r, e))
                continue
            row = rowat.get((pg, r))
            if row is None:
                continue
            for (c, _), v in zip(idx['keys'], vals):
                if not same(v, row[colpos[c['num']]]):
                    problems.append('index %s: key %s=%r for row %d:%d, which holds %r'
                                    % (name, c['name'], v, pg, r, row[colpos[c['num']]]))
            if unique and not all_null((pg, r)):
                if key in seen:
                    problems.append('index %s: unique key duplicated by rows %d:%d and %d:%d'
                                    % (name, *seen[key], pg, r))
                seen.setdefault(key, (pg, r))

    gfree = usage_map(db, 1 << 8, 'global', problems)
    g, _ = row_bytes(db, 1, 0)
    if g[0] == 0:
        covered = range(u32(g, 1), u32(g, 1) + (len(g) - 5) * 8)
    else:
        covered = range(0, (len(g) - 1) // 4 * (PAGE - 4) * 8)
    for p in sorted(set(tdef['chain']) | owned | index_pages | hosts | extra_pages):
        if p in gfree:
            problems.append('global usage map marks page %d free' % p)
        elif p not in covered:
            problems.append('global usage map does not cover page %d (counts as free)' % p)
    return {'columns': [c['name'] for c in tdef['columns']], 'rows': rows, 'problems': problems}


def jsonable(v):
    if isinstance(v, float) and not math.isfinite(v):
        return str(v)
    return v


def main(argv):
    if len(argv) != 3 or argv[1].startswith('-'):
        sys.stderr.write('usage: jet4_check.py DATABASE TABLE\n')
        return 2
    try:
        result = check(argv[1], argv[2])
    except (OSError, UsageError) as e:
        sys.stderr.write('jet4_check.py: %s\n' % e)
        return 2
    except (CheckError, struct.error, IndexError, ValueError) as e:
        result = {'columns': [], 'rows': [], 'problems': ['cannot read the file: %s' % e]}
    result['rows'] = [[jsonable(v) for v in r] for r in result['rows']]
    sys.stdout.buffer.write(json.dumps(result, ensure_ascii=False).encode('utf-8') + b'\n')
    return 1 if result['problems'] else 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
