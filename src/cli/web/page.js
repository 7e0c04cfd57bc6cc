// The page of a fleet run: served live by `hj5-update --web PORT` and written
// as report.html into the run's folder. Plain JavaScript, no build step; the
// only library is Chart.js (global `Chart`), inlined before this script.
"use strict";
(function () {
  const ROW_HEIGHT = 24; // px, as --row in page.css; measured again after the first render
  const OVERSCAN = 12; // rows kept above and below the visible ones
  const MAX_STREAM_ERRORS = 20; // failed reconnections in a row before giving up
  const ALL = "all";
  const NOT_SUCCEEDED = "not succeeded";
  const RESULT_ORDER = ["running", "failed", "completed", "completed before", "stopped", "not started",
    "accepted", "in update", "refused", "not in update", "restored", "not restored"];
  const HEAD_COUNTS = [["head-done", "done"], ["head-devices", "devices"], ["head-succeeded", "succeeded"],
    ["head-failed", "failed"], ["head-running", "running"], ["head-not-started", "not_started"],
    ["head-uploading", "uploading"]];
  const STOP_QUESTIONS = {
    drain: "Stop starting devices?\n\nNo further device will be started. " +
      "The devices already running finish their update.",
    restore: "Stop and restore?\n\nThe running updates are stopped, and each device that may be left " +
      "in update is restored: FTP off, its device code back, and a restart.",
  };

  const $ = (id) => document.getElementById(id);
  // el("td", {className: "x", textContent: "y"}, child...) -> a new element
  const el = (tag, props, ...children) => {
    const element = Object.assign(document.createElement(tag), props);
    element.append(...children);
    return element;
  };
  // A line of text in the element `id`, hidden when empty.
  const setNote = (id, text, isError = false) => {
    Object.assign($(id), { textContent: text, hidden: !text });
    $(id).classList.toggle("error", isError);
  };
  const collator = new Intl.Collator(undefined, { numeric: true, sensitivity: "base" });
  const clockFormat = new Intl.DateTimeFormat(undefined, { hour: "2-digit", minute: "2-digit" });
  const clockSecondsFormat = new Intl.DateTimeFormat(undefined,
    { hour: "2-digit", minute: "2-digit", second: "2-digit" });
  const dateTimeFormat = new Intl.DateTimeFormat(undefined, { dateStyle: "medium", timeStyle: "medium" });

  const data = readData();
  if (!data) {
    $("run-state").textContent = "No run data in this page";
    return;
  }
  const live = data.live === true;
  const token = (document.querySelector('meta[name="hj5-token"]') || {}).content || "";
  const columns = buildColumns(data.columns || []);
  const state = {
    devices: (data.devices || []).map(makeDevice),
    view: [], // indices into state.devices, in the table's order
    sortColumn: -1, // index into columns; -1 keeps the order of the device list
    sortDirection: 1,
    filter: ALL,
    search: "",
    rowHeight: ROW_HEIGHT,
    printing: false,
    openIndex: -1, // the device whose events are shown
    eventsRequest: 0, // number of the latest events fetch; older replies are dropped
    eventsLoading: false,
    eventsStale: false, // the open device changed while its events were on their way
  };
  const body = { top: null, bottom: null, empty: null, rows: [] }; // the rows of the devices table
  const dirty = new Set(); // what the next animation frame renders again
  let frameRequested = false;
  let chart = null;
  let stream = null;

  // ---- Data --------------------------------------------------------------

  function readData() {
    try {
      const parsed = JSON.parse($("hj5-data").textContent);
      return parsed && typeof parsed === "object" ? parsed : null;
    } catch (e) {
      return null;
    }
  }

  // [label, [column values], result, step, text, seconds, ok] -> a device
  function makeDevice(row, index) {
    const label = String(row[0]);
    const cols = (row[1] || []).map((v) => (v == null ? "" : String(v)));
    const device = Object.assign({ index, label, cols }, parseLabel(label));
    setDeviceState(device, row.slice(2));
    return device;
  }

  // [result, step, text, seconds, ok]
  function setDeviceState(device, [result, step, text, seconds, ok]) {
    device.result = String(result || "");
    device.step = String(step || "");
    device.text = String(text || "");
    device.seconds = typeof seconds === "number" ? seconds : null;
    device.ok = ok === true;
    device.haystack = [device.label, device.text, ...device.cols].join("\n").toLowerCase();
  }

  // "10.0.0.7:8080" -> the address as a number (IPv4) or a host name, and the port
  function parseLabel(label) {
    const match = /^\[?(.*?)\]?:(\d+)$/.exec(label);
    const host = match ? match[1] : label;
    const v4 = /^(\d{1,3})\.(\d{1,3})\.(\d{1,3})\.(\d{1,3})$/.exec(host);
    const address = v4 ? ((+v4[1] * 256 + +v4[2]) * 256 + +v4[3]) * 256 + +v4[4] : null;
    return { host, address, port: match ? Number(match[2]) : 0 };
  }

  // IPv4 addresses numerically and before host names, then the port numerically.
  function compareLabels(a, b) {
    if (a.address !== null && b.address !== null) return a.address - b.address || a.port - b.port;
    if (a.address !== null || b.address !== null) return a.address !== null ? -1 : 1;
    return collator.compare(a.host, b.host) || a.port - b.port;
  }

  function buildColumns(operatorColumns) {
    const byText = (get) => (a, b) => collator.compare(get(a), get(b));
    const list = [
      { title: "Device", cell: "label", width: "11em", text: (d) => d.label, compare: compareLabels },
      { title: "Result", cell: "result", width: "9em", text: (d) => d.result, live: true },
      { title: "Step", cell: "step", width: "9em", text: (d) => d.step, live: true },
      { title: "Last text", cell: "text", width: "", text: (d) => d.text, live: true },
      { title: "Time taken", cell: "seconds", width: "8.5em", text: (d) => formatTaken(d.seconds), live: true,
        compare: (a, b) => (a.seconds === null ? -1 : a.seconds) - (b.seconds === null ? -1 : b.seconds) },
    ];
    operatorColumns.forEach((name, i) =>
      list.push({ title: String(name), cell: "col", width: "9em", text: (d) => d.cols[i] || "" }));
    for (const column of list) column.compare = column.compare || byText(column.text);
    return list;
  }

  const resultRank = (result) => (RESULT_ORDER.includes(result) ? RESULT_ORDER.indexOf(result) : RESULT_ORDER.length);
  const resultClass = (result) => "result r-" + result.replace(/[^a-z0-9]+/gi, "-").toLowerCase();

  // ---- Formatting --------------------------------------------------------

  const pad2 = (n) => String(n).padStart(2, "0");
  const formatCount = (n) => (typeof n === "number" ? n.toLocaleString() : "–");
  const formatTaken = (s) => (s === null ? "" : s < 60 ? s.toFixed(1) + " s" : formatDuration(s));

  // 75 -> "1 min 15 s", 3900 -> "1 h 05 min"
  function formatDuration(seconds) {
    const s = Math.max(0, Math.round(seconds));
    if (s < 60) return s + " s";
    if (s < 3600) return Math.floor(s / 60) + " min " + pad2(s % 60) + " s";
    return Math.floor(s / 3600) + " h " + pad2(Math.floor((s % 3600) / 60)) + " min";
  }

  // A tick of the chart's time axis: 30 -> "30 s", 300 -> "5 min", 5400 -> "1 h 30"
  function formatTick(seconds) {
    const s = Math.round(seconds);
    if (s < 60) return s + " s";
    if (s % 60 !== 0) return Math.floor(s / 60) + " min " + (s % 60) + " s";
    if (s < 3600) return s / 60 + " min";
    return Math.floor(s / 3600) + " h" + (s % 3600 ? " " + pad2((s % 3600) / 60) : "");
  }

  // ---- Head --------------------------------------------------------------

  function renderFile() {
    $("head-mode").textContent = data.mode || "";
    const file = data.file;
    if (!file) return;
    const sha = file.sha256 || "";
    const size = typeof file.size === "number" ? " · " + file.size.toLocaleString() + " bytes" : "";
    $("head-file").replaceChildren(el("span", { className: "name", textContent: file.name || "" }),
      " · SHA-256 ", el("span", { className: "sha", title: "SHA-256 " + sha, textContent: sha.slice(0, 12) }), size);
  }

  function renderHead() {
    const head = data.head || {};
    const ended = data.ended_ms != null;
    for (const [id, key] of HEAD_COUNTS) $(id).textContent = formatCount(head[key]);
    const rate = head.rate_per_min;
    $("head-rate").textContent = typeof rate === "number" ? rate.toFixed(1) + " /min" : "–";
    if (ended || typeof head.eta_ms !== "number" || data.now_ms == null) {
      $("head-eta").textContent = "–";
    } else {
      const minutes = Math.round(head.eta_ms / 60000);
      $("head-eta").replaceChildren(clockFormat.format(data.now_ms + head.eta_ms),
        el("small", { textContent: minutes < 1 ? " in under 1 min" : " in " + minutes.toLocaleString() + " min" }));
    }

    $("head-started").textContent = data.started_ms != null ? dateTimeFormat.format(data.started_ms) : "–";
    $("head-ended-part").hidden = !ended;
    if (ended) $("head-ended").textContent = clockSecondsFormat.format(data.ended_ms);
    const until = ended ? data.ended_ms : data.now_ms;
    $("head-elapsed").textContent = until != null && data.started_ms != null
      ? (ended ? "took " : "running for ") + formatDuration((until - data.started_ms) / 1000) : "";

    const runState = $("run-state");
    if (ended) runState.textContent = data.exit != null ? "Run ended (exit " + data.exit + ")" : "Run ended";
    else runState.textContent = live ? "Running" : "Written while the run was going on";
    runState.className = "run-state" + (ended ? " ended" : "") + (ended && data.exit ? " bad" : "");
    $("banner").hidden = !data.banner;
    $("banner").textContent = data.banner || "";
    $("controls").hidden = !live || ended;
  }

  // ---- Chart -------------------------------------------------------------

  // Ticks at round times (10 s, 1 min, 5 min, ...) rather than at round numbers of seconds.
  function timeTicks(scale) {
    const steps = [1, 2, 5, 10, 15, 30, 60, 120, 300, 600, 900, 1800, 3600, 7200, 10800, 21600, 43200, 86400];
    const step = steps.find((s) => s >= (scale.max - scale.min) / 8) || steps[steps.length - 1];
    scale.ticks = [];
    for (let v = Math.ceil(scale.min / step) * step; v <= scale.max && scale.ticks.length < 60; v += step) {
      scale.ticks.push({ value: v });
    }
  }

  // The chart's points are [t_ms, completed, failed, running]; `which` picks a line.
  const chartPoint = (point, which) => ({ x: point[0] / 1000, y: point[which] });

  function createChart() {
    if (typeof Chart !== "function") return;
    const line = (label, colour, which) => ({
      label, borderColor: colour, backgroundColor: colour, borderWidth: 2, pointRadius: 0, pointHitRadius: 6,
      data: (data.chart || []).map((p) => chartPoint(p, which)),
    });
    chart = new Chart($("chart"), {
      type: "line",
      data: {
        datasets: [line("Completed", "#1a7f37", 1), line("Failed", "#c62828", 2), line("Running", "#1f5fbf", 3)],
      },
      options: {
        animation: false, parsing: false, normalized: true, responsive: true, maintainAspectRatio: false,
        interaction: { mode: "index", intersect: false },
        scales: {
          x: { type: "linear", min: 0, afterBuildTicks: timeTicks, ticks: { callback: formatTick },
            title: { display: true, text: "time since the start" } },
          y: { beginAtZero: true, ticks: { precision: 0 }, title: { display: true, text: "devices" } },
        },
        plugins: {
          legend: { position: "top", align: "end", labels: { boxWidth: 12 } },
          tooltip: { callbacks: { title: (items) => (items.length ? "+" + formatDuration(items[0].parsed.x) : "") } },
        },
      },
    });
  }

  function appendChartPoints(points) {
    const series = data.chart || (data.chart = []);
    const lastTime = series.length ? series[series.length - 1][0] : -Infinity;
    const fresh = (points || []).filter((p) => p[0] > lastTime); // a reconnection may repeat a point
    if (fresh.length === 0) return;
    series.push(...fresh);
    if (chart) chart.data.datasets.forEach((set, i) => set.data.push(...fresh.map((p) => chartPoint(p, i + 1))));
    schedule("chart");
  }

  // ---- Devices table: head, filter, sort ---------------------------------

  function renderTableHead() {
    $("devices-cols").replaceChildren(...columns.map((column) => {
      const col = el("col");
      if (column.width) col.style.width = column.width;
      return col;
    }));
    $("devices-head").replaceChildren(...columns.map((column, i) => {
      const th = el("th", { textContent: column.title, title: "Sort by " + column.title, tabIndex: 0, scope: "col" });
      th.dataset.column = String(i);
      return th;
    }));
    // The fixed columns and at least 24em for the last text; wider than the window, the table scrolls.
    $("devices").style.minWidth = 61.5 + 9 * (columns.length - 5) + "em";
    renderSortMarks();
  }

  function renderSortMarks() {
    $("devices-head").querySelectorAll("th").forEach((th, i) => {
      const sorted = i === state.sortColumn;
      th.classList.toggle("sorted-asc", sorted && state.sortDirection > 0);
      th.classList.toggle("sorted-desc", sorted && state.sortDirection < 0);
      th.setAttribute("aria-sort", !sorted ? "none" : state.sortDirection > 0 ? "ascending" : "descending");
    });
  }

  function sortBy(columnIndex) {
    state.sortDirection = state.sortColumn === columnIndex ? -state.sortDirection : 1;
    state.sortColumn = columnIndex;
    renderSortMarks();
    schedule("view");
  }

  function matches(device) {
    if (state.filter === NOT_SUCCEEDED) {
      if (device.result === "not started" || device.ok) return false;
    } else if (state.filter !== ALL && device.result !== state.filter) {
      return false;
    }
    return state.search === "" || device.haystack.includes(state.search);
  }

  function computeView() {
    const devices = state.devices;
    const view = devices.filter(matches).map((device) => device.index);
    if (state.sortColumn >= 0) {
      const compare = columns[state.sortColumn].compare;
      const direction = state.sortDirection;
      view.sort((a, b) => compare(devices[a], devices[b]) * direction || a - b);
    }
    state.view = view;
    $("shown-count").textContent = formatCount(view.length) + " of " + formatCount(devices.length) + " devices shown";
  }

  // Whether a live change of a device's result, step, text or time can move it in or out of the view.
  function viewDependsOnLiveFields() {
    return state.filter !== ALL || state.search !== "" ||
      (state.sortColumn >= 0 && columns[state.sortColumn].live === true);
  }

  // "all results", each result present with its count, "not succeeded"; rebuilt only when the results change.
  function renderFilterOptions() {
    const counts = new Map();
    let notSucceeded = 0;
    for (const device of state.devices) {
      counts.set(device.result, (counts.get(device.result) || 0) + 1);
      if (device.result !== "not started" && !device.ok) notSucceeded++;
    }
    if (state.filter !== ALL && state.filter !== NOT_SUCCEEDED && !counts.has(state.filter)) {
      counts.set(state.filter, 0); // the chosen result stays in the list while no device has it
    }
    const results = [...counts.keys()].sort((a, b) => resultRank(a) - resultRank(b) || collator.compare(a, b));
    const entries = [[ALL, "all results (" + formatCount(state.devices.length) + ")"],
      ...results.map((r) => [r, r + " (" + formatCount(counts.get(r)) + ")"]),
      [NOT_SUCCEEDED, NOT_SUCCEEDED + " (" + formatCount(notSucceeded) + ")"]];
    const options = $("filter").options;
    if (options.length === entries.length && entries.every(([value], i) => options[i].value === value)) {
      entries.forEach(([, text], i) => { if (options[i].text !== text) options[i].text = text; });
    } else {
      $("filter").replaceChildren(...entries.map(([value, text]) => new Option(text, value)));
      $("filter").value = state.filter;
    }
  }

  // ---- Devices table: virtual rows ---------------------------------------

  // The body: a spacer, the rows in sight (reused from one render to the next, so that a
  // click or a text selection survives a live update), a spacer, a line for an empty view.
  function setupTableBody() {
    const wide = (className) => el("tr", { className }, el("td", { colSpan: columns.length }));
    body.top = wide("spacer");
    body.bottom = wide("spacer");
    body.empty = wide("empty");
    $("devices-body").replaceChildren(body.top, body.bottom, body.empty);
  }

  function setSpacer(tr, height) {
    tr.hidden = height <= 0;
    tr.cells[0].style.height = height + "px";
  }

  function fillRow(tr, device) {
    const index = String(device.index);
    if (tr.dataset.index !== index) tr.dataset.index = index;
    tr.classList.toggle("selected", device.index === state.openIndex);
    columns.forEach((column, i) => {
      const td = tr.cells[i];
      const text = column.text(device);
      if (td.textContent !== text) {
        td.textContent = text;
        td.title = text; // the whole text where the cell cuts it off
      }
      if (column.cell === "result" && td.className !== resultClass(text)) td.className = resultClass(text);
    });
  }

  // Shows the rows in sight (while printing: every row of the view) between the two spacers.
  function renderRows() {
    const scroller = $("devices-scroll");
    const total = state.view.length;
    const height = state.rowHeight;
    let first = 0;
    let last = total;
    if (!state.printing) {
      first = Math.max(0, Math.floor(scroller.scrollTop / height) - OVERSCAN);
      last = Math.min(total, first + Math.ceil(scroller.clientHeight / height) + 2 * OVERSCAN);
    }
    const count = last - first;
    const added = [];
    while (body.rows.length + added.length < count) {
      added.push(el("tr", { className: "device" }, ...columns.map((column) => el("td", { className: column.cell }))));
    }
    body.bottom.before(...added);
    body.rows.push(...added);
    while (body.rows.length > count) body.rows.pop().remove();
    for (let k = 0; k < count; k++) fillRow(body.rows[k], state.devices[state.view[first + k]]);
    setSpacer(body.top, first * height);
    setSpacer(body.bottom, (total - last) * height);
    body.empty.hidden = total > 0;
    body.empty.cells[0].textContent = state.devices.length ? "No device matches." : "No devices.";
  }

  // The spacers must assume the row height the browser lays out.
  function adoptMeasuredRowHeight() {
    const measured = body.rows.length ? body.rows[0].getBoundingClientRect().height : 0;
    if (measured <= 0 || Math.abs(measured - state.rowHeight) < 0.01) return false;
    state.rowHeight = measured;
    return true;
  }

  // ---- At most one render per animation frame ----------------------------

  function schedule(...parts) {
    parts.forEach((part) => dirty.add(part));
    if (!frameRequested) {
      frameRequested = true;
      requestAnimationFrame(renderFrame);
    }
  }

  function renderFrame() {
    frameRequested = false;
    const parts = new Set(dirty);
    dirty.clear();
    if (parts.has("head")) renderHead();
    if (parts.has("chart") && chart) chart.update("none");
    if (parts.has("options")) renderFilterOptions();
    if (parts.has("view")) computeView();
    if (parts.has("view") || parts.has("rows")) renderRows();
  }

  // ---- A device's events -------------------------------------------------

  function toggleEvents(index) {
    if (index === state.openIndex) {
      closeEvents();
      return;
    }
    state.openIndex = index;
    state.eventsRequest++; // a reply for the device shown before is dropped
    $("device-events").hidden = false;
    $("device-events-table").tBodies[0].replaceChildren();
    renderEventsLabel();
    loadEvents();
    schedule("rows");
  }

  function closeEvents() {
    state.openIndex = -1;
    state.eventsRequest++;
    $("device-events").hidden = true;
    schedule("rows");
  }

  function renderEventsLabel() {
    const device = state.devices[state.openIndex];
    if (device) $("device-events-label").textContent = device.label + " · " + device.result;
  }

  function loadEvents() {
    const index = state.openIndex;
    if (!live) {
      showEvents((data.events || {})[String(index)]);
      return;
    }
    if (state.eventsLoading) {
      state.eventsStale = true; // fetched again once the reply on its way is in
      return;
    }
    const request = ++state.eventsRequest;
    state.eventsLoading = true;
    state.eventsStale = false;
    if (!$("device-events-table").tBodies[0].rows.length) setNote("device-events-message", "Loading the events…");
    fetch("/devices/" + index + "/events", { credentials: "same-origin", cache: "no-store" })
      .then((reply) => {
        if (!reply.ok) throw new Error(reply.status + " " + reply.statusText);
        return reply.json();
      })
      .then((reply) => { if (request === state.eventsRequest) showEvents(reply.events); })
      .catch((error) => {
        if (request !== state.eventsRequest) return;
        setNote("device-events-message", "Could not load the events: " + error.message);
      })
      .finally(() => {
        state.eventsLoading = false;
        if (state.eventsStale && state.openIndex >= 0) loadEvents();
      });
  }

  // events: [[t_ms since the start, kind, text, cause, code], ...]
  function showEvents(events) {
    const list = Array.isArray(events) ? events : [];
    const started = data.started_ms || 0;
    $("device-events-table").tBodies[0].replaceChildren(...list.map(([time, kind, text, cause, code]) => {
      const cells = {
        time: clockSecondsFormat.format(started + time), since: "+" + (time / 1000).toFixed(1) + " s",
        kind, text, cause, code: code || "",
      };
      return el("tr", { className: "kind-" + String(kind).replace(/[^a-z0-9]+/gi, "-") },
        ...Object.entries(cells).map(([name, value]) =>
          el("td", { className: name, textContent: String(value ?? "") })));
    }));
    $("device-events-table").hidden = list.length === 0;
    setNote("device-events-message", list.length ? "" : "No events recorded.");
  }

  // ---- Live updates ------------------------------------------------------

  function applyUpdate(message) {
    for (const key of ["now_ms", "head", "banner", "exit", "ended_ms"]) {
      if (key in message) data[key] = message[key];
    }
    appendChartPoints(message.chart);
    let changed = false;
    for (const [key, values] of Object.entries(message.devices || {})) {
      const device = state.devices[Number(key)];
      if (!device || !Array.isArray(values)) continue;
      setDeviceState(device, values);
      changed = true;
      if (device.index === state.openIndex) {
        renderEventsLabel();
        loadEvents();
      }
    }
    schedule("head");
    if (changed) schedule("options", viewDependsOnLiveFields() ? "view" : "rows");
    if (data.ended_ms != null) stopStream();
  }

  function connect() {
    let errors = 0;
    stream = new EventSource("/events");
    stream.onmessage = (event) => {
      errors = 0;
      setNote("connection", "");
      let message;
      try {
        message = JSON.parse(event.data);
      } catch (e) {
        return;
      }
      applyUpdate(message);
    };
    stream.onerror = () => {
      if (!stream) return;
      if (++errors < MAX_STREAM_ERRORS) {
        setNote("connection", "Connection lost; reconnecting…");
      } else {
        stopStream();
        setNote("connection", "Lost the connection to hj5-update; reload the page to try again.");
      }
    };
  }

  function stopStream() {
    if (stream) stream.close();
    stream = null;
    setNote("connection", "");
  }

  // ---- The two stop controls ---------------------------------------------

  async function requestStop(kind) {
    if (!window.confirm(STOP_QUESTIONS[kind])) return;
    const buttons = [$("stop-drain"), $("stop-restore")];
    buttons.forEach((button) => { button.disabled = true; });
    setNote("control-message", "Sending…");
    try {
      const reply = await fetch("/stop", {
        method: "POST",
        credentials: "same-origin",
        headers: { "X-HJ5-Token": token, "Content-Type": "text/plain" },
        body: kind,
      });
      if (reply.ok) {
        setNote("control-message", kind === "drain" ? "No further device will be started; the running ones finish."
          : "Stopping; the devices that may be left in update are being restored.", false);
      } else {
        const detail = (await reply.text()).trim().slice(0, 300);
        setNote("control-message", "The stop was refused: " + reply.status + " " + reply.statusText +
          (detail ? " — " + detail : ""), true);
      }
    } catch (error) {
      setNote("control-message", "Could not reach hj5-update: " + error.message, true);
    } finally {
      buttons.forEach((button) => { button.disabled = false; });
    }
  }

  // ---- Start -------------------------------------------------------------

  function bindEvents() {
    const showFromTop = () => {
      $("devices-scroll").scrollTop = 0;
      schedule("view");
    };
    $("devices-scroll").addEventListener("scroll", () => schedule("rows"), { passive: true });
    window.addEventListener("resize", () => schedule("rows"));
    $("devices-head").addEventListener("click", (event) => {
      const th = event.target.closest("th");
      if (th) sortBy(Number(th.dataset.column));
    });
    $("devices-head").addEventListener("keydown", (event) => {
      const th = event.target.closest("th");
      if (!th || (event.key !== "Enter" && event.key !== " ")) return;
      event.preventDefault();
      sortBy(Number(th.dataset.column));
    });
    $("devices-body").addEventListener("click", (event) => {
      const row = event.target.closest("tr.device");
      if (row) toggleEvents(Number(row.dataset.index));
    });
    $("filter").addEventListener("change", (event) => {
      state.filter = event.target.value;
      showFromTop();
    });
    $("search").addEventListener("input", (event) => {
      state.search = event.target.value.trim().toLowerCase();
      showFromTop();
    });
    $("device-events-close").addEventListener("click", closeEvents);
    document.addEventListener("keydown", (event) => {
      if (event.key === "Escape" && state.openIndex >= 0) closeEvents();
    });
    $("stop-drain").addEventListener("click", () => requestStop("drain"));
    $("stop-restore").addEventListener("click", () => requestStop("restore"));
    // The table is virtual: a printout gets every row of the view, the screen again only those in sight.
    window.addEventListener("beforeprint", () => {
      state.printing = true;
      if (dirty.has("view")) computeView();
      renderRows();
    });
    window.addEventListener("afterprint", () => {
      state.printing = false;
      renderRows();
    });
  }

  function start() {
    renderFile();
    renderHead();
    renderTableHead();
    renderFilterOptions();
    setupTableBody();
    computeView();
    renderRows();
    if (adoptMeasuredRowHeight()) renderRows();
    window.hj5FirstRenderMs = performance.now(); // when the table first shows rows; read by the browser tests
    createChart();
    bindEvents();
    if (live && data.ended_ms == null) connect();
  }

  start();
})();
