"use strict";
// Renders the claims of the report's data in batches as the reader scrolls, behind
// the verdict, agent and file filters and the search box. Every text from the data
// reaches the page through textContent or a text node, never as markup.
(async () => {
  const BATCH = 150;
  const SEARCH_DELAY_MS = 120;
  // Fields of a row and of a group in the data.
  const GROUP = 0, CLAIM = 1, VERDICT = 2, KIND = 3, TEXT = 4, EVIDENCE = 5, MARKS = 6, EXCERPT = 7,
    TESTS = 8;
  const FILE = 0, AGENT = 1, SESSION = 2, TURN = 3, RECORD = 4;
  const REGEXP_SPECIAL = /[.*+?^${}()|[\]\\]/g;

  // The data is JSON, gzip-compressed (large runs stay a few tens of megabytes) and in base64.
  async function load(block) {
    const binary = atob(block.textContent);
    const bytes = new Uint8Array(binary.length);
    for (let i = 0; i < binary.length; i++) bytes[i] = binary.charCodeAt(i);
    const text = new Blob([bytes]).stream().pipeThrough(new DecompressionStream("gzip"));
    return JSON.parse(await new Response(text).text());
  }

  const data = await load(document.getElementById("report-data"));
  const { verdicts, files, agents, sessions, kinds, groups, rows } = data;
  const byId = (id) => document.getElementById(id);
  const form = byId("filters"), list = byId("claims-list"), shown = byId("shown");
  const more = byId("more"), search = byId("search");

  let haystack = null;            // lower-cased text and evidence, made at the first search
  let order = new Int32Array(0);  // the rows that pass the filters, in page order
  let counts = [];                // of those, how many per verdict
  let next = 0, verdictNow = -1, fileNow = -1, groupNow = -1;

  function node(tag, className, text) {
    const made = document.createElement(tag);
    if (className) made.className = className;
    if (text !== undefined) made.textContent = text;
    return made;
  }

  // The text as text nodes, with each mark in a <mark> element.
  function marked(parent, text, marks) {
    const words = marks.filter((mark) => mark.length > 0);
    if (words.length === 0) {
      parent.textContent = text;
      return parent;
    }
    const pattern = new RegExp(words.map((w) => w.replace(REGEXP_SPECIAL, "\\$&")).join("|"), "gi");
    let at = 0;
    for (const found of text.matchAll(pattern)) {
      if (found[0].length === 0) continue;
      if (found.index > at) parent.append(text.slice(at, found.index));
      parent.append(node("mark", "", found[0]));
      at = found.index + found[0].length;
    }
    if (at < text.length) parent.append(text.slice(at));
    return parent;
  }

  function sectionHeading(verdict) {
    return node("h3", "section v" + verdict, verdicts[verdict] + " (" + counts[verdict] + ")");
  }

  function fileHeading(group) {
    const heading = node("h4");
    heading.append(node("span", "file", files[group[FILE]]), " ", node("span", "", agents[group[AGENT]]));
    return heading;
  }

  // The same words as the page's own list for readers without scripts.
  function turnHeading(group) {
    const turn = group[TURN] !== null ? "turn " + group[TURN]
      : group[RECORD] !== null ? "record " + group[RECORD] : "";
    const session = sessions[group[SESSION]] ? "session " + sessions[group[SESSION]] : "";
    return node("h5", "", [turn, session].filter((part) => part).join(" \u00b7 "));
  }

  // The same markup as the page's own list for readers without scripts.
  function claim(row) {
    const article = node("article", "v" + row[VERDICT]);
    const head = node("p", "h");
    head.append(node("b", "", verdicts[row[VERDICT]]), " ", node("i", "", kinds[row[KIND]]),
                row[CLAIM] === null ? "" : " claim " + row[CLAIM]);
    article.append(head, marked(node("p", "t"), row[TEXT], row[MARKS]));
    if (row[TESTS] !== null) article.append(node("p", "r", row[TESTS]));
    article.append(node("p", "e", row[EVIDENCE]));
    if (row[EXCERPT] !== null) article.append(marked(node("pre"), row[EXCERPT], row[MARKS]));
    return article;
  }

  function renderBatch() {
    const end = Math.min(order.length, next + BATCH);
    const batch = document.createDocumentFragment();
    for (; next < end; next++) {
      const row = rows[order[next]], group = groups[row[GROUP]];
      if (row[VERDICT] !== verdictNow) {
        verdictNow = row[VERDICT];
        fileNow = groupNow = -1;
        batch.append(sectionHeading(verdictNow));
      }
      if (group[FILE] !== fileNow) {
        fileNow = group[FILE];
        batch.append(fileHeading(group));
      }
      if (row[GROUP] !== groupNow) {
        groupNow = row[GROUP];
        batch.append(turnHeading(group));
      }
      batch.append(claim(row));
    }
    list.append(batch);
    more.hidden = next >= order.length;
    more.textContent = "show " + Math.min(BATCH, order.length - next) + " more";
    // Observing again makes the observer report at once whether the button is still
    // in view, so batches follow until the window is filled.
    observer.unobserve(more);
    if (!more.hidden) observer.observe(more);
  }

  function applyFilters() {
    const wanted = new Set(Array.from(form.querySelectorAll("input[name=verdict]:checked"),
                                      (box) => Number(box.value)));
    const agent = Number(byId("agent").value), file = Number(byId("file").value);
    const query = search.value.trim().toLowerCase();
    if (query && haystack === null) {
      haystack = rows.map((row) => (row[TEXT] + "\n" + row[EVIDENCE]).toLowerCase());
    }
    const kept = new Int32Array(rows.length);
    let count = 0;
    counts = verdicts.map(() => 0);
    for (let i = 0; i < rows.length; i++) {
      const row = rows[i], group = groups[row[GROUP]];
      if (!wanted.has(row[VERDICT])) continue;
      if (agent >= 0 && group[AGENT] !== agent) continue;
      if (file >= 0 && group[FILE] !== file) continue;
      if (query && !haystack[i].includes(query)) continue;
      kept[count++] = i;
      counts[row[VERDICT]]++;
    }
    order = kept.subarray(0, count);
    next = 0;
    verdictNow = fileNow = groupNow = -1;
    list.replaceChildren();
    shown.textContent = count === rows.length
      ? "Showing all " + count + " claims."
      : "Showing " + count + " of " + rows.length + " claims.";
    renderBatch();
  }

  function chooseFromTable(event) {
    const row = event.target.closest("tr[data-agent], tr[data-file]");
    if (!row) return;
    for (const key of ["agent", "file"]) byId(key).value = row.dataset[key] ?? "-1";
    applyFilters();
    form.scrollIntoView();
  }

  const observer = new IntersectionObserver((entries) => {
    if (entries.some((entry) => entry.isIntersecting)) renderBatch();
  }, { rootMargin: "600px" });

  let searchTimer = 0;
  form.addEventListener("change", applyFilters);
  form.addEventListener("submit", (event) => event.preventDefault());
  search.addEventListener("input", () => {
    clearTimeout(searchTimer);
    searchTimer = setTimeout(applyFilters, SEARCH_DELAY_MS);
  });
  more.addEventListener("click", renderBatch);
  for (const table of document.querySelectorAll("table.counts")) {
    table.addEventListener("click", chooseFromTable);
  }
  document.documentElement.classList.add("js");
  form.hidden = false;
  applyFilters();
  document.documentElement.dataset.ready = "true";
})();
