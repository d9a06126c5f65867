// The page of `vellomar view`: a list of messages, page by page, and one
// message at a time. Everything comes from the server's JSON (api/...),
// fetched relative to the page's address, which carries the token; the
// state lives in the address's fragment, so Back and reloads work.
"use strict";

const PAGE = 50;
const $ = (id) => document.getElementById(id);
let shown = null; // the message on the page: its elements by key, its raw spans

function el(tag, className, text) {
  const node = document.createElement(tag);
  if (className) node.className = className;
  if (text !== undefined && text !== null) node.textContent = String(text);
  return node;
}

function readState() {
  const p = new URLSearchParams(location.hash.slice(1));
  return {filter: p.get("filter") || "", start: Number(p.get("start")) || 0,
          pos: p.has("pos") ? Number(p.get("pos")) : null};
}

function go(state) {
  const p = new URLSearchParams();
  if (state.filter) p.set("filter", state.filter);
  if (state.start) p.set("start", String(state.start));
  if (state.pos !== null) p.set("pos", String(state.pos));
  location.hash = p.toString();
}

async function api(name, params) {
  const answer = await fetch("api/" + name + "?" + new URLSearchParams(params));
  const body = await answer.json();
  if (!answer.ok) throw new Error(body.error || answer.statusText);
  return body;
}

function problem(text) {
  $("problem").textContent = text || "";
  $("problem").hidden = !text;
}

// ------------------------------------------------------------------ the list

function validationCell(row) {
  if (row.bad) return el("td", "bad", "not read: " + row.bad);
  const parts = [];
  if (row.errors) parts.push(row.errors + " error" + (row.errors === 1 ? "" : "s"));
  if (row.warnings) parts.push(row.warnings + " warning" + (row.warnings === 1 ? "" : "s"));
  return el("td", row.errors ? "err" : row.warnings ? "warn" : "ok",
            parts.length ? parts.join(", ") : "valid");
}

async function showList(state) {
  const page = await api("messages", {filter: state.filter, start: state.start, count: PAGE});
  $("message-view").hidden = true;
  $("list-view").hidden = false;
  const body = $("list").tBodies[0];
  body.replaceChildren();
  page.rows.forEach((row, i) => {
    const tr = el("tr");
    tr.dataset.pos = String(page.start + i);
    tr.append(el("td", "", row.n + 1), el("td", "", row.file + " #" + row.number),
              el("td", "", row.type), el("td", "", row.control_id), el("td", "", row.time),
              el("td", "", row.patient_id), validationCell(row));
    tr.addEventListener("click", () => go({...state, pos: page.start + i}));
    body.append(tr);
  });
  const end = page.start + page.rows.length;
  $("range").textContent = page.total
    ? `${page.start + 1}–${end} of ${page.total}` + (state.filter ? ` (of ${page.all})` : "")
    : "no message meets the filter";
  $("first").disabled = $("prev").disabled = page.start === 0;
  $("next").disabled = end >= page.total;
  $("first").onclick = () => go({...state, start: 0});
  $("prev").onclick = () => go({...state, start: Math.max(0, page.start - PAGE)});
  $("next").onclick = () => go({...state, start: page.start + PAGE});
}

// --------------------------------------------------------------- one message

// The key of the element that holds `key`: "11(1)-3" -> "11(1)" -> "11".
function parentKey(key) {
  const cut = Math.max(key.lastIndexOf("-"), key.lastIndexOf("("));
  return cut > 0 ? key.slice(0, cut) : null;
}

function within(key, outer) {
  return key === outer || key.startsWith(outer + "-") || key.startsWith(outer + "(");
}

function light(segment, key) {
  document.querySelectorAll(".lit").forEach((node) => node.classList.remove("lit"));
  if (segment === null) return;
  for (const span of shown.raw[segment] || []) {
    if (key === null || within(span.dataset.key, key)) span.classList.add("lit");
  }
  let row = null;
  for (let k = key; k !== null && !row; k = parentKey(k)) row = shown.rows.get(segment + ":" + k);
  if (row) row.classList.add("lit");
}

function pointAt(segment, key) {
  light(segment, key);
  let found = null;
  for (let k = key; k !== null && !found; k = parentKey(k)) found = shown.elements.get(segment + ":" + k);
  const pointer = $("pointer");
  pointer.replaceChildren();
  const path = shown.segments[segment].path + "-" + key;
  pointer.append(el("strong", "", path));
  if (found && found.name) pointer.append(" " + found.name);
  if (found && found.type) pointer.append(el("span", "meaning", found.type));
  const value = shown.values.get(segment + ":" + key);
  if (value) pointer.append(el("div", "", value));
}

function meaning(element) {
  const value = el("td", "value", element.value);
  if (element.meaning) value.append(el("span", "meaning", "(" + element.meaning + ")"));
  return value;
}

function fieldRows(table, segment, element, depth, findings) {
  const tr = el("tr", "depth" + depth);
  tr.dataset.k = segment.index + ":" + element.key;
  const type = element.type ? element.type + (element.table ? " " + element.table : "") : "";
  const value = meaning(element);
  for (const finding of findings.filter((f) => f.field === element.key && depth === 0)) {
    value.append(el("span", "finding " + finding.severity, finding.text));
  }
  tr.append(el("td", "path", element.path), el("td", "name", element.name || ""),
            el("td", "type", type), value);
  tr.addEventListener("mouseenter", () => light(segment.index, element.key));
  table.append(tr);
  shown.rows.set(tr.dataset.k, tr);
  shown.elements.set(tr.dataset.k, element);
  for (const child of element.children) fieldRows(table, segment, child, depth + 1, findings);
}

function segmentBox(segment, expected, findings) {
  const box = el("div", "segment" + (expected ? "" : " unexpected"));
  box.dataset.segment = String(segment.index);
  const head = el("div", "shead", segment.path);
  if (segment.name) head.append(el("span", "sname", segment.name));
  if (!expected) head.append(el("span", "sname", "(not in the structure here)"));
  head.addEventListener("mouseenter", () => light(segment.index, null));
  box.append(head);
  const mine = findings.filter((f) => f.segment === segment.index);
  const keys = new Set(segment.fields.map((f) => f.key));
  for (const finding of mine.filter((f) => !keys.has(f.field))) {
    head.append(el("span", "finding " + finding.severity, finding.location + ": " + finding.text));
  }
  const table = el("table", "fields");
  for (const field of segment.fields) fieldRows(table, segment, field, 0, mine);
  box.append(table);
  return box;
}

function treeNode(node, data) {
  if (node.segment !== undefined) {
    return segmentBox(data.segments[node.segment], node.expected, data.findings);
  }
  const group = el("div", "group" + (node.known ? "" : " unknown"));
  group.append(el("div", "gname", node.group + (node.known ? "" : " (structure not known)")));
  for (const child of node.children) group.append(treeNode(child, data));
  return group;
}

function rawText(data) {
  const pre = $("raw");
  pre.replaceChildren();
  shown.raw = data.raw.map((pieces, segment) => {
    const line = el("span", "seg");
    const spans = [];
    for (const [text, key] of pieces) {
      if (key === null) {
        line.append(text);
        continue;
      }
      const span = el("span", "", text);
      span.dataset.key = key;
      span.dataset.k = segment + ":" + key;
      span.addEventListener("mouseenter", () => pointAt(segment, key));
      shown.values.set(segment + ":" + key, text);
      spans.push(span);
      line.append(span);
    }
    pre.append(line);
    return spans;
  });
}

async function showMessage(state) {
  const data = await api("message", {filter: state.filter, pos: state.pos});
  $("list-view").hidden = true;
  $("message-view").hidden = false;
  shown = {segments: data.segments, rows: new Map(), elements: new Map(), values: new Map(), raw: []};
  const title = `${data.file}, message ${data.number} at byte ${data.offset}`;
  $("title").textContent = data.bad
    ? title + ": not read: " + data.bad
    : `${title}: ${data.type}, control ID ${data.control_id}, version ${data.version}` +
      ` (${state.pos + 1} of ${data.total})`;
  $("msg-prev").disabled = state.pos === 0;
  $("msg-next").disabled = state.pos + 1 >= data.total;
  $("msg-prev").onclick = () => go({...state, pos: state.pos - 1});
  $("msg-next").onclick = () => go({...state, pos: state.pos + 1});
  $("back").onclick = () => go({...state, pos: null, start: state.pos - (state.pos % PAGE)});
  $("findings").replaceChildren();
  $("tree").replaceChildren();
  $("raw").replaceChildren();
  $("fhir").textContent = "";
  if (data.bad) return;
  for (const f of data.findings) {
    $("findings").append(el("li", "finding " + f.severity,
                            `${f.severity} ${f.code} at ${f.location}: ${f.text}`));
  }
  $("tree").append(treeNode(data.structure, data));
  rawText(data);
  if (data.fhir !== null) $("fhir").textContent = JSON.stringify(data.fhir, null, 2);
}

// -------------------------------------------------------------------- set-up

function selectTab(name) {
  document.querySelectorAll(".tabs button").forEach((b) => b.classList.toggle("on", b.dataset.tab === name));
  $("message-tab").hidden = name !== "message";
  $("fhir-tab-body").hidden = name !== "fhir";
}

async function route() {
  const state = readState();
  $("filter").value = state.filter;
  problem("");
  try {
    if (state.pos === null) await showList(state);
    else await showMessage(state);
  } catch (error) {
    problem(error.message);
  }
}

async function start() {
  $("filter-form").addEventListener("submit", (event) => {
    event.preventDefault();
    go({filter: $("filter").value.trim(), start: 0, pos: null});
  });
  $("clear").addEventListener("click", () => go({filter: "", start: 0, pos: null}));
  $("home").addEventListener("click", (event) => {
    event.preventDefault();
    go({filter: readState().filter, start: 0, pos: null});
  });
  document.querySelectorAll(".tabs button").forEach((b) => b.addEventListener("click", () => selectTab(b.dataset.tab)));
  $("raw").addEventListener("mouseleave", () => light(null, null));
  window.addEventListener("hashchange", route);
  try {
    const info = await api("info", {});
    const names = info.files.map((f) => f.name).join(", ");
    $("files").textContent = `${info.total} messages in ${names}`;
    $("fhir-tab").hidden = !info.fhir;
  } catch (error) {
    problem(error.message);
  }
  await route();
}

start();
