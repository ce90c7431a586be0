// The review page: plain HTML, CSS and a small script, served from the binary. It reads the
// differences from /api/state, sends each choice to /api/decide and applies through
// /api/apply; every value is shown as text, never as markup.
#pragma once

#include <string>

namespace ovt::tool {

inline const std::string& reviewPage() {
  static const std::string page = R"PAGE(<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8"><title>ovtbldiff review</title>
<style>
body{font:14px/1.4 system-ui,sans-serif;margin:0;color:#222}
header{position:sticky;top:0;background:#f4f6f8;border-bottom:1px solid #ccd;padding:8px 16px;z-index:2}
header h1{font-size:16px;margin:0 0 4px}
#progress-bar{height:6px;background:#dde;border-radius:3px;overflow:hidden;width:320px;display:inline-block;vertical-align:middle}
#progress-bar span{display:block;height:100%;background:#3a7}
main{padding:8px 16px}
table{border-collapse:collapse;margin:8px 0}
th,td{border:1px solid #ccd;padding:3px 8px;text-align:left;vertical-align:top}
tr.item.current{outline:2px solid #36c}
tr.item.grid td.rec{padding-left:28px}
td.differs{background:#ffe2a8}
td.n{text-align:right}
tr.form.grid td.title{padding-left:24px}
td.note{color:#666;font-style:italic}
td.chosen{background:#c8f0c8;font-weight:600}
tr.decided td.state{color:#3a7}
button{font:inherit;margin-right:4px}
input.typed{width:12em}
.error{color:#b00}
.keys{color:#666;font-size:12px}
pre{background:#f7f7f7;padding:6px;max-height:240px;overflow:auto}
</style></head>
<body>
<header>
<h1>Review of <span id="entries"></span></h1>
<div>Progress: <span id="progress">0 / 0</span> decided <span id="progress-bar"><span></span></span>
<span id="message" class="error"></span></div>
<div class="keys">Keys: 1 / 2 choose that entry's value (an unpaired record: as that entry has it), t type a value,
Enter accept the typed value or go to the next undecided, n / p next / previous.</div>
</header>
<main>
<h2>Forms</h2>
<table id="forms"><thead><tr><th>form / grid</th><th>records in entry 1</th><th>records in entry 2</th>
<th>matched</th><th>conflicting</th><th>missing in entry 2</th><th>missing in entry 1</th>
<th>values compared</th><th>values differing</th><th>agreement</th><th>to decide</th><th>decided</th></tr></thead>
<tbody></tbody></table>
<h2>Differences</h2>
<table id="items"><thead><tr><th>table</th><th>record</th><th>field</th><th>entry 1</th><th>entry 2</th>
<th>choice</th><th></th></tr></thead><tbody></tbody></table>
<h2>Apply</h2>
<div>Into <select id="target"></select>
<button id="preview">Preview</button> <button id="apply">Apply</button></div>
<div id="result"></div>
</main>
<script>
'use strict';
const token = new URLSearchParams(location.search).get('token') || '';
let state = null, cur = 0;
function api(path, body) {
  const init = body === undefined ? {} :
    {method: 'POST', headers: {'Content-Type': 'application/json'}, body: JSON.stringify(body)};
  return fetch(path + '?token=' + encodeURIComponent(token), init).then(async r => {
    const j = await r.json();
    if (!r.ok) throw new Error(j.error || r.statusText);
    return j;
  });
}
function el(tag, text, cls) {
  const e = document.createElement(tag);
  if (text !== undefined) e.textContent = text;
  if (cls) e.className = cls;
  return e;
}
function say(text) { document.getElementById('message').textContent = text || ''; }
function decided(it) { return it.choice !== ''; }
function choiceText(it) {
  if (it.choice === 'typed') return '= ' + it.typed;
  if (it.choice === 'keep') return 'copy to the other entry';
  if (it.choice === 'delete') return 'mark deleted';
  return it.choice ? 'entry ' + it.choice : '';
}
// Items in review order: each form record, then its grid records under it; grid records whose
// parent has no difference of its own come after, grouped by parent.
function ordered(items) {
  const parents = items.filter(i => !i.parent), grids = items.filter(i => i.parent);
  const records = [], result = [], placed = new Set();
  const same = (a, b) => a.toLowerCase() === b.toLowerCase();
  for (const p of parents) if (!records.some(r => r.table === p.table && r.record === p.record)) records.push(p);
  for (const g of grids)
    if (!records.some(r => same(r.table, g.parent) && r.record === g.parent_record))
      records.push({table: g.parent, record: g.parent_record});
  for (const r of records) {
    for (const p of parents) if (p.table === r.table && p.record === r.record) result.push(p);
    grids.forEach((g, n) => {
      if (!placed.has(n) && same(g.parent, r.table) && g.parent_record === r.record) {
        result.push(g);
        placed.add(n);
      }
    });
  }
  return result;
}
function render() {
  document.getElementById('entries').textContent = state.entries.join(' and ');
  document.getElementById('progress').textContent = state.decided + ' / ' + state.total;
  document.querySelector('#progress-bar span').style.width =
    (state.total ? 100 * state.decided / state.total : 100) + '%';
  const forms = document.querySelector('#forms tbody');
  forms.replaceChildren();
  for (const f of state.forms) {
    // The verification's counts of the table, then what is left to decide there.
    const tr = el('tr', undefined, 'form' + (f.grid ? ' grid' : ''));
    tr.dataset.table = f.table;
    tr.append(el('td', f.title, 'title'));
    if (f.not_compared === undefined) {
      const cells = [['records1', f.records[0]], ['records2', f.records[1]], ['matched', f.matched],
                     ['conflicting', f.conflicting], ['missing2', f.missing[0]], ['missing1', f.missing[1]],
                     ['compared', f.values_compared], ['differing', f.values_differing]];
      for (const [cls, n] of cells) tr.append(el('td', String(n), 'n ' + cls));
      const a = el('td', f.agreement_text, 'n agreement');
      a.dataset.value = String(f.agreement);
      tr.append(a);
    } else {
      const note = el('td', f.not_compared, 'note');
      note.colSpan = 9;
      tr.append(note);
    }
    tr.append(el('td', String(f.differing_values + f.unpaired), 'n todecide'),
              el('td', f.decided + ' / ' + (f.differing_values + f.unpaired), 'n decided'));
    forms.append(tr);
  }
  const body = document.querySelector('#items tbody');
  body.replaceChildren();
  state.items.forEach((it, i) => {
    const tr = el('tr', undefined, 'item' + (it.parent ? ' grid' : '') + (decided(it) ? ' decided' : '') +
                  (i === cur ? ' current' : ''));
    tr.id = 'item-' + i;
    tr.dataset.table = it.table; tr.dataset.record = it.record; tr.dataset.field = it.field;
    const v1 = el('td', it.entry1, 'v1 differs'), v2 = el('td', it.entry2, 'v2 differs');
    if (it.choice === '1' || (it.field === '' && it.choice === 'keep' && it.entry1 === '(present)') ||
        (it.field === '' && it.choice === 'delete' && it.entry1 === '(absent)')) v1.classList.add('chosen');
    if (it.choice === '2' || (it.field === '' && it.choice === 'keep' && it.entry2 === '(present)') ||
        (it.field === '' && it.choice === 'delete' && it.entry2 === '(absent)')) v2.classList.add('chosen');
    const rec = el('td', it.record, 'rec');
    tr.append(el('td', it.table), rec, el('td', it.field || '(whole record)'), v1, v2,
              el('td', choiceText(it), 'state'));
    const act = el('td');
    if (it.field) {
      const b1 = el('button', '1', 'choose1'), b2 = el('button', '2', 'choose2');
      b1.onclick = () => choose(i, '1'); b2.onclick = () => choose(i, '2');
      const inp = el('input', undefined, 'typed');
      inp.placeholder = 'type a value';
      inp.value = it.choice === 'typed' ? it.typed : '';
      inp.onkeydown = e => {
        if (e.key === 'Enter') { e.preventDefault(); choose(i, 'typed', inp.value); }
        if (e.key === 'Escape') inp.blur();
        e.stopPropagation();
      };
      const use = el('button', 'use typed', 'use');
      use.onclick = () => choose(i, 'typed', inp.value);
      act.append(b1, b2, inp, use);
    } else {
      const k = el('button', 'copy to the other entry', 'keep'), d = el('button', 'mark deleted', 'delete');
      k.onclick = () => choose(i, 'keep'); d.onclick = () => choose(i, 'delete');
      act.append(k, d);
    }
    const undo = el('button', 'undecide', 'undo');
    undo.onclick = () => choose(i, '');
    act.append(undo);
    tr.append(act);
    tr.onclick = () => { cur = i; mark(); };
    body.append(tr);
  });
  const sel = document.getElementById('target');
  if (!sel.options.length)
    for (const t of state.targets) {
      const o = el('option', t === '1' ? 'entry 1' : t === '2' ? 'entry 2' : 'new copy ' + t);
      o.value = t;
      sel.append(o);
    }
}
function mark() {
  document.querySelectorAll('tr.item').forEach((tr, i) => tr.classList.toggle('current', i === cur));
  const tr = document.getElementById('item-' + cur);
  if (tr) tr.scrollIntoView({block: 'nearest'});
}
async function load() {
  const s = await api('/api/state');
  s.items = ordered(s.items);
  state = s;
  if (cur >= state.items.length) cur = Math.max(0, state.items.length - 1);
  render();
}
async function choose(i, choice, typed) {
  const it = state.items[i];
  if (!it) return;
  if (!it.field && (choice === '1' || choice === '2')) {
    // As that entry has it: present means keep it, absent means delete it.
    const has = (choice === '1' ? it.entry1 : it.entry2) === '(present)';
    choice = has ? 'keep' : 'delete';
  }
  try {
    await api('/api/decide', {table: it.table, record: it.record, field: it.field, choice: choice, typed: typed || ''});
    say('');
    cur = i;
    await load();
    if (choice !== '') next(true);
  } catch (e) { say(e.message); }
}
function next(undecidedOnly) {
  if (!state.items.length) return;
  for (let k = 1; k <= state.items.length; ++k) {
    const j = (cur + k) % state.items.length;
    if (!undecidedOnly || !decided(state.items[j])) { cur = j; break; }
    if (k === state.items.length) cur = Math.min(cur + 1, state.items.length - 1);
  }
  mark();
}
document.addEventListener('keydown', e => {
  if (!state || e.target.tagName === 'INPUT' || e.target.tagName === 'SELECT' || e.ctrlKey || e.metaKey || e.altKey)
    return;
  if (e.key === '1' || e.key === '2') { e.preventDefault(); choose(cur, e.key); }
  else if (e.key === 'n' || e.key === 'ArrowDown') { e.preventDefault(); cur = Math.min(cur + 1, state.items.length - 1); mark(); }
  else if (e.key === 'p' || e.key === 'ArrowUp') { e.preventDefault(); cur = Math.max(cur - 1, 0); mark(); }
  else if (e.key === 'Enter') { e.preventDefault(); next(true); }
  else if (e.key === 't') {
    const inp = document.querySelector('#item-' + cur + ' input.typed');
    if (inp) { e.preventDefault(); inp.focus(); }
  }
});
function showResult(r) {
  const box = document.getElementById('result');
  box.replaceChildren();
  box.append(el('p', (r.dry_run ? 'Preview (rolled back): ' : 'Applied: ') + r.changed + ' values changed, ' +
                     r.failed + ' records failed, ' + r.undecided + ' undecided', 'summary'));
  const t = el('table', undefined, 'outcome');
  const h = el('tr');
  for (const c of ['table', 'record', 'result', 'field', 'before', 'after', 'from']) h.append(el('th', c));
  t.append(h);
  for (const rec of r.records) {
    const rows = rec.changes.length ? rec.changes : [null];
    for (const c of rows) {
      const tr = el('tr', undefined, rec.ok ? 'ok' : 'failed');
      tr.append(el('td', rec.table), el('td', rec.record),
                el('td', rec.ok ? (c ? (r.dry_run ? 'would change' : 'changed') : 'already as decided') : 'failed: ' + rec.message, rec.ok ? '' : 'error'),
                el('td', c ? (c.field || '(whole record)') : ''), el('td', c ? c.before : ''), el('td', c ? c.after : ''),
                el('td', c ? c.from : ''));
      t.append(tr);
    }
  }
  box.append(t);
  if (r.statements.length) box.append(el('h3', 'Statements'), el('pre', r.statements.join('\n'), 'statements'));
}
async function applyTo(dry) {
  const target = document.getElementById('target').value;
  try {
    say('');
    const r = await api('/api/apply', {target: target, dry_run: dry});
    showResult(r);
    if (!dry) await load();
  } catch (e) { say(e.message); }
}
document.getElementById('preview').onclick = () => applyTo(true);
document.getElementById('apply').onclick = () => applyTo(false);
load().then(() => { document.body.dataset.ready = '1'; }, e => say(e.message));
</script>
</body></html>
)PAGE";
  return page;
}

}  // namespace ovt::tool
