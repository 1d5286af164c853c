// The analyst's page. It keeps what the analyst typed and shows what the
// server returns; every number on it (weights, scores, ranks, coefficients,
// acceptabilities) comes from ternavik on the server, never from this file.
"use strict";

const state = {
  criteria: [], alternatives: [], cells: [], kinds: [], weightValues: [],
  wmode: "numbers", weighting: "critic", pairwise: [],
  methods: [], coefficient: "spearman",
  sensMethod: null, sensCriterion: 0, smaaMethod: null, smaaSamples: 2000,
  source: "", page: 0, tableId: null,
};
let catalogue = null;
let latest = 0;          // number of the newest analysis asked for
let timer = null;
let lastResult = null;
const charts = {};

const $ = (id) => document.getElementById(id);
const esc = (text) => String(text).replace(/[&<>"']/g, (c) => (
  { "&": "&amp;", "<": "&lt;", ">": "&gt;", '"': "&quot;", "'": "&#39;" }[c]));

// ------------------------------------------------------------------ server

async function call(path, body, asBlob) {
  const init = { method: body === undefined ? "GET" : "POST", credentials: "same-origin" };
  if (body instanceof FormData) {
    init.body = body;
  } else if (body !== undefined) {
    init.body = JSON.stringify(body);
    init.headers = { "Content-Type": "application/json" };
  }
  const response = await fetch(path, init);
  if (!response.ok) {
    let text = await response.text();
    try { text = JSON.parse(text).error || text; } catch (e) { /* plain text */ }
    const error = new Error(text || `the server answered ${response.status}`);
    error.status = response.status;
    throw error;
  }
  return asBlob ? response.blob() : response.json();
}

function showMessage(text) {
  const box = $("message");
  box.textContent = text || "";
  box.hidden = !text;
}

function setStatus(text) { $("status").textContent = text; }

// ------------------------------------------------------------------ state

function request(whole) {
  const weights = { mode: state.wmode };
  if (state.wmode === "numbers") weights.values = state.weightValues;
  if (state.wmode === "named") weights.name = state.weighting;
  if (state.wmode === "ahp") weights.pairwise = state.pairwise;
  const body = {
    // The table goes once; while it stays the same, its id stands for it.
    table: whole || !state.tableId
      ? { criteria: state.criteria, alternatives: state.alternatives, cells: state.cells } : null,
    table_id: state.tableId,
    reading: { decimal: $("decimal").value, nan_policy: $("nan-policy").value },
    kinds: state.kinds, weights, methods: state.methods, coefficient: state.coefficient,
  };
  if (state.sensMethod) body.sensitivity = { method: state.sensMethod, points: 21 };
  if (catalogue && catalogue.smaa && state.smaaMethod) {
    body.smaa = { method: state.smaaMethod, samples: state.smaaSamples, seed: 1 };
  }
  return body;
}

function loadTable(table, kinds, weights) {
  state.tableId = null;
  state.criteria = table.criteria.slice();
  state.alternatives = table.alternatives.slice();
  state.cells = table.cells.map((row) => row.slice());
  const m = state.criteria.length;
  state.kinds = kinds ? kinds.slice() : new Array(m).fill("max");
  state.weightValues = weights ? weights.slice() : new Array(m).fill("1");
  state.pairwise = Array.from({ length: m }, () => new Array(m).fill("1"));
  state.sensCriterion = 0;
  state.source = table.name || "";
  $("source").textContent = state.source ? `— ${state.source}` : "";
  renderGrid();
  renderAhp();
  changed();
}

// ------------------------------------------------------------------ data grid

function renderGrid() {
  const m = state.criteria.length;
  // Criteria and data are two tables with the same fixed column widths: a
  // change of kind then lays out three rows, not the whole matrix.
  const cols = '<colgroup><col class="g-name">' + '<col class="g-cell">'.repeat(m) + "</colgroup>";
  const head = [cols, '<thead><tr><th class="corner">alternative</th>'];
  state.criteria.forEach((c, j) => head.push(
    `<th><input class="name" data-crit="${j}" value="${esc(c)}" aria-label="criterion ${j + 1}"></th>`));
  head.push('</tr><tr class="kinds"><th>kind</th>');
  state.kinds.forEach((k, j) => head.push(
    `<th><select data-kind="${j}" data-testid="kind-${j}">` +
    `<option value="max"${k === "max" ? " selected" : ""}>benefit ↑</option>` +
    `<option value="min"${k === "min" ? " selected" : ""}>cost ↓</option></select></th>`));
  head.push('</tr><tr class="weights"><th>weight</th>');
  for (let j = 0; j < m; j++) {
    head.push(`<th><input class="weight" data-weight="${j}" data-testid="weight-${j}" ` +
      `value="${esc(state.weightValues[j] ?? "")}"></th>`);
  }
  head.push("</tr></thead>");
  const body = [cols, "<tbody>"];
  // Editable cells rather than inputs: every input is a scroller of its own,
  // and twenty thousand of them make each repaint of the page slow.
  state.cells.forEach((row, i) => {
    body.push(`<tr><th contenteditable="plaintext-only" data-alt="${i}">${esc(state.alternatives[i])}</th>`);
    row.forEach((cell, j) => body.push(
      `<td contenteditable="plaintext-only" data-r="${i}" data-c="${j}">${esc(cell)}</td>`));
    body.push("</tr>");
  });
  body.push("</tbody>");
  $("grid-head").innerHTML = head.join("");
  $("grid").innerHTML = body.join("");
  // The sum of the columns (as in style.css): a content-sized table would widen one.
  for (const id of ["grid-head", "grid"]) $(id).style.width = `${12.5 + 7.9 * m}em`;
  $("grid").parentElement.classList.toggle("tall", state.cells.length > 12);
  showWeightMode();
}

function onGridInput(event) {
  const t = event.target;
  const d = t.dataset;
  if (d.r !== undefined) state.cells[+d.r][+d.c] = t.textContent.trim();
  else if (d.alt !== undefined) state.alternatives[+d.alt] = t.textContent.trim();
  else if (d.crit !== undefined) { state.criteria[+d.crit] = t.value; renderAhp(); }
  else if (d.kind !== undefined) state.kinds[+d.kind] = t.value;
  else if (d.weight !== undefined) state.weightValues[+d.weight] = t.value;
  else return;
  if (d.weight === undefined && d.kind === undefined) state.tableId = null;
  changed();
}

function addRow() {
  state.tableId = null;
  state.alternatives.push(`alternative ${state.alternatives.length + 1}`);
  state.cells.push(new Array(state.criteria.length).fill(""));
  renderGrid();
  changed();
}

function addColumn() {
  state.tableId = null;
  state.criteria.push(`criterion ${state.criteria.length + 1}`);
  state.kinds.push("max");
  state.weightValues.push("1");
  state.cells.forEach((row) => row.push(""));
  state.pairwise.forEach((row) => row.push("1"));
  state.pairwise.push(new Array(state.criteria.length).fill("1"));
  renderGrid();
  renderAhp();
  changed();
}

// ------------------------------------------------------------------ weights

function showWeightMode() {
  const typed = state.wmode === "numbers";
  document.querySelectorAll("input.weight").forEach((input, j) => {
    input.readOnly = !typed;
    input.classList.toggle("derived", !typed);
    if (typed) input.value = state.weightValues[j] ?? "";
  });
  $("ahp-box").hidden = state.wmode !== "ahp";
}

function showDerivedWeights(weights) {
  if (state.wmode === "numbers" || !weights) return;
  document.querySelectorAll("input.weight").forEach((input, j) => {
    input.value = weights[j] === null || weights[j] === undefined ? "" : String(weights[j]);
  });
}

function renderAhp() {
  const m = state.criteria.length;
  const rows = ['<thead><tr><th></th>'];
  state.criteria.forEach((c) => rows.push(`<th>${esc(c)}</th>`));
  rows.push("</tr></thead><tbody>");
  for (let i = 0; i < m; i++) {
    rows.push(`<tr><th>${esc(state.criteria[i])}</th>`);
    for (let j = 0; j < m; j++) {
      if (j > i) {
        rows.push(`<td><input data-pi="${i}" data-pj="${j}" data-testid="ahp-${i}-${j}" ` +
          `value="${esc(state.pairwise[i][j])}"></td>`);
      } else if (j === i) {
        rows.push('<td class="diag">1</td>');
      } else {
        rows.push(`<td class="mirror" id="mirror-${i}-${j}">${esc(mirrored(state.pairwise[j][i]))}</td>`);
      }
    }
    rows.push("</tr>");
  }
  rows.push("</tbody>");
  $("ahp-table").innerHTML = rows.join("");
}

// The judgement below the diagonal as it reads: "1/3" above shows "3" below.
// (The server takes the reciprocal itself; this is only its label.)
function mirrored(text) {
  const t = String(text).trim();
  const m = /^1\s*\/\s*(.+)$/.exec(t);
  return m ? m[1] : `1/${t}`;
}

function onAhpInput(event) {
  const d = event.target.dataset;
  if (d.pi === undefined) return;
  state.pairwise[+d.pi][+d.pj] = event.target.value;
  $(`mirror-${d.pj}-${d.pi}`).textContent = mirrored(event.target.value);
  changed();
}

function showAhp(ahp) {
  if (!ahp) { $("ahp-cr").textContent = "-"; $("ahp-verdict").textContent = ""; return; }
  const cr = ahp.consistency_ratio;
  $("ahp-cr").textContent = cr === null ? "not defined" : String(cr);
  $("ahp-verdict").textContent = cr === null ? "" : cr <= 0.1
    ? "consistent enough (at most 0.1)" : "inconsistent: above 0.1, revise the judgements";
}

// ------------------------------------------------------------------ methods

function methodInfo(name) { return catalogue.methods.find((m) => m.name === name); }

function labelOf(spec) {
  const info = methodInfo(spec.name);
  const changedOptions = Object.entries(spec.options || {})
    .filter(([k, v]) => String(v) !== String(info.options[k]));
  return changedOptions.length ? `${spec.name} (${changedOptions.map(([k, v]) => `${k}=${v}`).join(", ")})` : spec.name;
}

function renderMethods() {
  const list = $("method-list");
  list.innerHTML = "";
  state.methods.forEach((spec, index) => {
    const info = methodInfo(spec.name);
    const item = document.createElement("div");
    item.className = "method";
    item.setAttribute("data-testid", `method-${index}`);
    const title = document.createElement("strong");
    title.textContent = spec.name;
    const sense = document.createElement("span");
    sense.className = "sense";
    sense.textContent = info.higher_is_better ? "↑ higher is better" : "↓ lower is better";
    item.append(title, sense);
    Object.entries(info.options).forEach(([key, fallback]) => {
      const label = document.createElement("label");
      label.textContent = `${key} `;
      let input;
      const choices = catalogue.choices[key];
      if (choices) {
        input = document.createElement("select");
        choices.forEach((c) => input.add(new Option(c, c)));
      } else {
        input = document.createElement("input");
        input.type = "text";
        input.size = 5;
      }
      input.value = String(spec.options[key] ?? fallback);
      input.dataset.option = key;
      input.addEventListener(choices ? "change" : "input", () => {
        spec.options[key] = input.value;
        refreshMethodChoices();
        changed();
      });
      label.append(input);
      item.append(label);
    });
    const remove = document.createElement("button");
    remove.type = "button";
    remove.textContent = "remove";
    remove.disabled = state.methods.length === 1;
    remove.addEventListener("click", () => {
      state.methods.splice(index, 1);
      renderMethods();
      changed();
    });
    item.append(remove);
    list.append(item);
  });
  refreshMethodChoices();
}

function refreshMethodChoices() {
  const names = [...new Set(state.methods.map((m) => m.name))];
  for (const [id, key] of [["sens-method", "sensMethod"], ["smaa-method", "smaaMethod"]]) {
    if (!names.includes(state[key])) state[key] = names[0] || null;
    const select = $(id);
    select.innerHTML = "";
    names.forEach((n) => select.add(new Option(n, n)));
    select.value = state[key] || "";
  }
}

function addMethod(name) {
  if (!name) return;
  state.methods.push({ name, options: {} });
  $("method-select").value = "";
  renderMethods();
  changed();
}

// ------------------------------------------------------------------ analysis

function changed() {
  // Marked at once, so nobody (person or test) reads results of an older state;
  // the ticket moves on too, so a reply already on its way for the older state
  // is dropped when it lands instead of being shown as current.
  latest += 1;
  $("results").dataset.state = "stale";
  $("smaa-box").dataset.state = "stale";
  setStatus("working…");
  clearTimeout(timer);
  timer = setTimeout(analyse, 40);
}

async function analyse() {
  const ticket = ++latest;
  const started = performance.now();
  const body = request();
  // SMAA samples thousands of weight vectors: it follows the main results
  // in a request of its own instead of holding them back.
  const smaa = body.smaa;
  delete body.smaa;
  if (state.wmode === "ahp") {
    call("/api/ahp", { pairwise: state.pairwise }).then(
      (ahp) => { if (ticket === latest) showAhp(ahp); },
      () => { if (ticket === latest) showAhp(null); });
  }
  try {
    const result = await withTable("/api/analyse", body);
    if (ticket !== latest) return;
    state.tableId = result.table_id;
    lastResult = result;
    showMessage((result.notes || []).join("\n"));
    renderResults(result);
    const shown = Math.round(performance.now() - started);
    $("elapsed").textContent = `(${result.elapsed_ms} ms on the server, ${shown} ms in all)`;
    setStatus("up to date");
    $("results").dataset.state = "ready";
    if (smaa) analyseSmaa({ ...body, table: null, table_id: state.tableId, smaa }, ticket);
  } catch (error) {
    if (ticket !== latest) return;
    showMessage(error.message);
    setStatus("not computed");
    $("results").dataset.state = "error";
  }
}

// A request that names the table by its id, sent again whole if the server
// has let that table go (it keeps only the last few).
async function withTable(path, body) {
  try {
    return await call(path, body);
  } catch (error) {
    if (error.status !== 409) throw error;
    state.tableId = null;
    return call(path, { ...body, table: request(true).table, table_id: null });
  }
}

async function analyseSmaa(body, ticket) {
  try {
    const result = await withTable("/api/smaa", body);
    if (ticket !== latest) return;
    renderSmaa(result.smaa);
    $("smaa-box").dataset.state = "ready";
  } catch (error) {
    if (ticket !== latest) return;
    showMessage(`SMAA: ${error.message}`);
    $("smaa-box").dataset.state = "error";
  }
}

function direction(method) { return method.higher_is_better ? "↑" : "↓"; }

function renderResults(r) {
  const pages = Math.ceil(r.alternatives.length / PAGE);
  if (state.page >= pages) state.page = 0;
  renderTables(r);
  showDerivedWeights(r.weights);
  if (r.ahp) showAhp(r.ahp);
  renderCorrelation(r);
  renderRankChart(r);
  renderSensitivity(r.sensitivity);
}

// A page of the result tables: a thousand rows at once cost the browser
// more time than the analysis itself.
const PAGE = 100;

function renderTables(r) {
  const from = state.page * PAGE;
  const rows = r.alternatives.slice(from, from + PAGE);
  const head = r.methods.map((m) => `<th title="${m.higher_is_better ? "higher" : "lower"} score is better">` +
    `${esc(m.label)} <span class="sense">${direction(m)}</span></th>`).join("");
  const ranks = [`<thead><tr><th>alternative</th>${r.methods.map((m) => `<th>${esc(m.label)}</th>`).join("")}</tr></thead><tbody>`];
  const scores = [`<thead><tr><th>alternative</th>${head}</tr></thead><tbody>`];
  rows.forEach((a, k) => {
    const i = from + k;
    ranks.push(`<tr><th>${esc(a)}</th>${r.ranks[i].map((x) => `<td>${x}</td>`).join("")}</tr>`);
    scores.push(`<tr><th>${esc(a)}</th>${r.scores[i].map((x) => `<td>${x === null ? "omitted" : String(x)}</td>`).join("")}</tr>`);
  });
  // Column widths fixed up front: the browser then never measures every row.
  const cols = (other) => '<colgroup><col class="w-name">' +
    r.methods.map(() => `<col class="${other}">`).join("") + "</colgroup>";
  const tall = rows.length > 12;
  $("ranks-table").innerHTML = (tall ? cols("w-rank") : "") + ranks.join("") + "</tbody>";
  $("scores-table").innerHTML = (tall ? cols("w-score") : "") + scores.join("") + "</tbody>";
  for (const id of ["ranks-table", "scores-table"]) {
    $(id).parentElement.classList.toggle("tall", tall);
    $(id).classList.toggle("fixed", tall);
  }
  const pages = Math.ceil(r.alternatives.length / PAGE);
  $("pager").hidden = pages <= 1;
  $("page-note").textContent = `alternatives ${from + 1}–${from + rows.length} of ${r.alternatives.length}`;
  $("page-prev").disabled = state.page === 0;
  $("page-next").disabled = state.page >= pages - 1;
}

function turnPage(step) {
  state.page += step;
  if (lastResult) renderTables(lastResult);
}

function renderCorrelation(r) {
  $("coefficient-name").textContent = `(${r.coefficient}; row = reference)`;
  const table = $("correlation-table");
  table.innerHTML = `<thead><tr><th></th>${r.methods.map((m) => `<th>${esc(m.label)}</th>`).join("")}</tr></thead>` +
    "<tbody>" + r.correlation.map((row, a) => `<tr><th>${esc(r.methods[a].label)}</th>` +
      row.map((v) => `<td>${v === null ? "-" : String(v)}</td>`).join("") + "</tr>").join("") + "</tbody>";
  // Shade each cell by its value: presentation of the server's numbers only.
  table.querySelectorAll("tbody tr").forEach((tr, a) => tr.querySelectorAll("td").forEach((td, b) => {
    const v = r.correlation[a][b];
    if (v === null) return;
    const t = Math.max(-1, Math.min(1, v));
    td.style.backgroundColor = t >= 0 ? `rgba(38, 110, 180, ${0.08 + 0.45 * t})`
      : `rgba(200, 70, 50, ${0.08 + 0.45 * -t})`;
  }));
}

// ------------------------------------------------------------------ charts

const palette = ["#1f77b4", "#ff7f0e", "#2ca02c", "#d62728", "#9467bd", "#8c564b",
  "#e377c2", "#7f7f7f", "#bcbd22", "#17becf", "#393b79", "#ad494a"];

// Exported PNGs get a white ground instead of a transparent one.
const whiteGround = {
  id: "whiteGround",
  beforeDraw(chart) {
    const ctx = chart.canvas.getContext("2d");
    ctx.save();
    ctx.globalCompositeOperation = "destination-over";
    ctx.fillStyle = "#ffffff";
    ctx.fillRect(0, 0, chart.width, chart.height);
    ctx.restore();
  },
};

function draw(id, config) {
  if (charts[id]) charts[id].destroy();
  config.plugins = [whiteGround];
  config.options = Object.assign({ animation: false, responsive: true, maintainAspectRatio: false }, config.options);
  charts[id] = new Chart($(id), config);
}

function rankAxis(title, max) {
  return { reverse: true, min: 1, max: Math.max(max, 2), title: { display: true, text: title },
    ticks: { stepSize: 1, precision: 0 } };
}

function renderRankChart(r) {
  const shown = r.chart_alternatives;
  $("rank-note").textContent = shown.length < r.alternatives.length
    ? `(the best ${shown.length} by ${r.methods[0].label})` : "";
  const max = Math.max(...shown.map((i) => Math.max(...r.ranks[i])));
  draw("rank-chart", {
    type: "line",
    data: {
      labels: r.methods.map((m) => m.label),
      datasets: shown.map((i, k) => ({ label: r.alternatives[i], data: r.ranks[i],
        borderColor: palette[k % palette.length], backgroundColor: palette[k % palette.length],
        pointRadius: 4, borderWidth: 2 })),
    },
    options: { scales: { y: rankAxis("rank (1 = best)", max) },
      plugins: { legend: { position: "right" } } },
  });
}

function renderSensitivity(s) {
  const select = $("sens-criterion");
  const table = $("sens-table");
  if (!s) { if (charts["sens-chart"]) charts["sens-chart"].destroy(); table.innerHTML = ""; return; }
  if (select.options.length !== s.criteria.length ||
      [...select.options].some((o, j) => o.text !== s.criteria[j])) {
    select.innerHTML = "";
    s.criteria.forEach((c, j) => select.add(new Option(c, String(j))));
  }
  if (state.sensCriterion >= s.criteria.length) state.sensCriterion = 0;
  select.value = String(state.sensCriterion);
  const c = state.sensCriterion;
  let max = 2;
  s.ranks[c].forEach((row) => row.forEach((x) => { if (x > max) max = x; }));
  draw("sens-chart", {
    type: "line",
    data: {
      datasets: s.alternatives.map((a, k) => ({ label: a,
        data: s.ranks[c].map((row, p) => ({ x: s.grid[p], y: row[k] })),
        stepped: "middle", borderColor: palette[k % palette.length],
        backgroundColor: palette[k % palette.length], pointRadius: 0, borderWidth: 2 })),
    },
    options: {
      scales: { x: { type: "linear", min: s.grid[0], max: s.grid[s.grid.length - 1],
        title: { display: true, text: `weight of ${s.criteria[c]} (base ${s.base_weight[c]})` } },
      y: rankAxis("rank (1 = best)", max) },
      plugins: { legend: { position: "right" } },
    },
  });
  table.innerHTML = "<thead><tr><th>criterion</th><th>base weight</th><th>top changes at weight</th>" +
    "<th>new top</th></tr></thead><tbody>" + s.criteria.map((name, j) => `<tr><th>${esc(name)}</th>` +
      `<td>${String(s.base_weight[j])}</td><td>${s.switch_weight[j] === null ? "never" : String(s.switch_weight[j])}</td>` +
      `<td>${esc(s.top_at_switch[j] || `${s.top_at_base} stays`)}</td></tr>`).join("") + "</tbody>";
}

function renderSmaa(s) {
  if (!s) return;
  draw("smaa-chart", {
    type: "bar",
    data: {
      labels: s.alternatives,
      datasets: s.ranks.map((rank, k) => ({ label: `rank ${rank}`, data: s.acceptability.map((row) => row[k]),
        backgroundColor: palette[k % palette.length] })),
    },
    options: { indexAxis: "y", scales: { x: { stacked: true, min: 0, max: 1,
      title: { display: true, text: "share of weight samples" } }, y: { stacked: true } },
      plugins: { legend: { position: "right" } } },
  });
  $("smaa-table").innerHTML = `<thead><tr><th>alternative</th>${s.ranks.map((x) => `<th>rank ${esc(x)}</th>`).join("")}</tr></thead><tbody>` +
    s.alternatives.map((a, i) => `<tr><th>${esc(a)}</th>${s.acceptability[i].map((v) => `<td>${v === null ? "-" : String(v)}</td>`).join("")}</tr>`).join("") + "</tbody>";
}

// ------------------------------------------------------------------ exports

function save(blob, filename) {
  const url = URL.createObjectURL(blob);
  const link = document.createElement("a");
  link.href = url;
  link.download = filename;
  document.body.append(link);
  link.click();
  link.remove();
  setTimeout(() => URL.revokeObjectURL(url), 60000);
}

async function exportChart(kind, format) {
  const ids = { ranks: "rank-chart", sensitivity: "sens-chart", smaa: "smaa-chart" };
  try {
    if (format === "png") {
      const chart = charts[ids[kind]];
      if (!chart) throw new Error("there is no chart to save yet");
      const blob = await new Promise((done) => chart.canvas.toBlob(done, "image/png"));
      save(blob, `ternavik-${kind}.png`);
    } else {
      save(await call(`/api/export/${kind}.svg`, request(true), true), `ternavik-${kind}.svg`);
    }
  } catch (error) { showMessage(error.message); }
}

async function exportFile(kind, filename) {
  try {
    save(await call(`/api/export/${kind}`, request(true), true), filename);
  } catch (error) { showMessage(error.message); }
}

// ------------------------------------------------------------------ reading

async function readFile(file) {
  const form = new FormData();
  form.append("file", file, file.name);
  form.append("delimiter", $("delimiter").value);
  form.append("decimal", $("decimal").value);
  await readForm(form);
}

async function readForm(form) {
  setStatus("reading…");
  $("results").dataset.state = "stale";
  try {
    const table = await call("/api/parse", form);
    showMessage("");
    loadTable(table, null, null);
  } catch (error) {
    showMessage(error.message);
    setStatus("not read");
    $("results").dataset.state = "error";
  }
}

async function readPaste() {
  const form = new FormData();
  form.append("text", $("paste").value);
  form.append("delimiter", $("delimiter").value || "tab");
  form.append("decimal", $("decimal").value);
  await readForm(form);
}

async function loadExample() {
  try {
    const data = await call("/api/example");
    data.name = "supplier example";
    loadTable(data, data.kinds, data.weights);
  } catch (error) { showMessage(error.message); }
}

// ------------------------------------------------------------------ start

function wire() {
  const grid = $("grid").parentElement;
  grid.addEventListener("input", onGridInput);
  grid.addEventListener("change", (e) => { if (e.target.tagName === "SELECT") onGridInput(e); });
  grid.addEventListener("keydown", (e) => {
    // Enter moves down a row, as in a spreadsheet, instead of breaking the cell.
    if (e.key !== "Enter" || !e.target.isContentEditable) return;
    e.preventDefault();
    const d = e.target.dataset;
    const below = d.r !== undefined ? `[data-r="${+d.r + 1}"][data-c="${d.c}"]` : `[data-alt="${+d.alt + 1}"]`;
    const next = $("grid").querySelector(below);
    if (next) next.focus(); else e.target.blur();
  });
  $("ahp-table").addEventListener("input", onAhpInput);
  $("add-row").addEventListener("click", addRow);
  $("add-col").addEventListener("click", addColumn);
  $("load-example").addEventListener("click", loadExample);
  $("file-input").addEventListener("change", (e) => {
    if (e.target.files.length) readFile(e.target.files[0]);
    e.target.value = "";
  });
  const drop = $("drop");
  drop.addEventListener("dragover", (e) => { e.preventDefault(); drop.classList.add("over"); });
  drop.addEventListener("dragleave", () => drop.classList.remove("over"));
  drop.addEventListener("drop", (e) => {
    e.preventDefault();
    drop.classList.remove("over");
    if (e.dataTransfer.files.length) readFile(e.dataTransfer.files[0]);
  });
  $("read-paste").addEventListener("click", readPaste);
  $("page-prev").addEventListener("click", () => turnPage(-1));
  $("page-next").addEventListener("click", () => turnPage(1));
  $("decimal").addEventListener("change", changed);
  $("nan-policy").addEventListener("change", changed);
  document.querySelectorAll("input[name=wmode]").forEach((radio) => radio.addEventListener("change", () => {
    state.wmode = radio.value;
    showWeightMode();
    if (state.wmode !== "ahp") showAhp(null);
    changed();
  }));
  $("weighting").addEventListener("change", (e) => {
    state.weighting = e.target.value;
    if (state.wmode !== "named") {
      state.wmode = "named";
      document.querySelector("input[name=wmode][value=named]").checked = true;
      showWeightMode();
    }
    changed();
  });
  $("method-select").addEventListener("change", (e) => addMethod(e.target.value));
  $("coefficient").addEventListener("change", (e) => { state.coefficient = e.target.value; changed(); });
  $("sens-method").addEventListener("change", (e) => { state.sensMethod = e.target.value; changed(); });
  $("sens-criterion").addEventListener("change", (e) => {
    state.sensCriterion = +e.target.value;
    if (lastResult) renderSensitivity(lastResult.sensitivity);
  });
  $("smaa-method").addEventListener("change", (e) => { state.smaaMethod = e.target.value; changed(); });
  $("smaa-samples").addEventListener("change", (e) => { state.smaaSamples = +e.target.value || 2000; changed(); });
  document.querySelectorAll("button[data-chart]").forEach((button) => button.addEventListener(
    "click", () => exportChart(button.dataset.chart, button.dataset.format)));
  $("export-csv").addEventListener("click", () => exportFile("csv", "ternavik-results.csv"));
  $("export-report").addEventListener("click", () => exportFile("report", "ternavik-report.html"));
}

async function start() {
  wire();
  try {
    catalogue = await call("/api/catalogue");
  } catch (error) {
    showMessage(error.message);
    return;
  }
  const select = $("method-select");
  select.add(new Option("a method…", ""));
  catalogue.methods.forEach((m) => select.add(new Option(
    `${m.name} (${m.higher_is_better ? "higher" : "lower"} is better)`, m.name)));
  catalogue.weightings.forEach((w) => $("weighting").add(new Option(w, w)));
  $("weighting").value = state.weighting;
  catalogue.coefficients.forEach((c) => $("coefficient").add(new Option(c, c)));
  $("ahp-choice").hidden = !catalogue.ahp;
  $("smaa-box").hidden = !catalogue.smaa;
  state.methods = ["topsis", "vikor", "promethee2"].filter((n) => methodInfo(n))
    .map((name) => ({ name, options: {} }));
  renderMethods();
  const first = catalogue.initial;
  loadTable({ ...first, name: first.name || "supplier example" }, first.kinds || null, first.weights || null);
}

document.addEventListener("DOMContentLoaded", start);
