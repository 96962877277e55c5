// The report page of tracemill-export --format html: reads the graph's JSON (gzip, in base64)
// and the header's facts from the page's two data blocks, lays the graph out left to right with dagre and draws
// it as SVG. Every name reaches the page as text (textContent and SVG text nodes), never as
// markup. The page makes no request.
// The graph's data block inflated: base64 to bytes, bytes through the browser's own gzip
// decoder. Nothing here is a request: the bytes never leave the page.
async function readGraph() {
  const text = atob(document.getElementById('tracemill-graph').textContent.trim());
  const bytes = new Uint8Array(text.length);
  for (let i = 0; i < text.length; ++i) bytes[i] = text.charCodeAt(i);
  const inflated = new Blob([bytes]).stream().pipeThrough(new DecompressionStream('gzip'));
  return JSON.parse(await new Response(inflated).text());
}

(async function () {
  'use strict';

  const SVG = 'http://www.w3.org/2000/svg';
  const phases = { start: performance.now() };
  const graphData = await readGraph();
  const facts = JSON.parse(document.getElementById('tracemill-header').textContent);
  const baseline = graphData.baseline || null;
  phases.parsed = performance.now();

  // ---- Figures as the other formats show them ----------------------------------------------

  // "850 µs", "1.25 ms", "2.5 s": as the DOT labels write durations.
  function durationText(micros) {
    if (micros === null || micros === undefined) return '\u2013';
    const sign = micros < 0 ? '-' : '';
    const magnitude = Math.abs(micros);
    if (magnitude < 1000) return sign + magnitude + ' \u00b5s';
    let thousandths = magnitude;
    let unit = ' ms';
    if (magnitude >= 1000000) {
      thousandths = Math.floor(magnitude / 1000) + (magnitude % 1000 >= 500 ? 1 : 0);
      unit = ' s';
    }
    let text = sign + Math.floor(thousandths / 1000);
    const decimals = thousandths % 1000;
    if (decimals !== 0) text += '.' + String(1000 + decimals).slice(1).replace(/0+$/, '');
    return text + unit;
  }

  // The share of failed calls in tenths of a percent, rounded half up, as "1.5 %".
  function errorText(calls, errors) {
    if (!(calls > 0)) return '\u2013';
    const failed = Math.min(Math.max(errors, 0), calls);
    const tenths = Math.floor((2000 * failed + calls) / (2 * calls));
    return Math.floor(tenths / 10) + '.' + (tenths % 10) + ' %';
  }

  // Colour and width of an edge with calls, as the DOT output draws it.
  function edgeStyle(calls, errors) {
    let width = 2;
    for (let n = calls; n >= 10 && width < 6; n = Math.floor(n / 10)) ++width;
    let color = '#2f9e44';
    if (calls > 0 && errors > 0) {
      const failed = Math.min(errors, calls);
      color = failed * 100 < calls ? '#b8860b' : failed * 20 < calls ? '#e8590c' : '#e03131';
    }
    return { color: color, width: width };
  }

  function ratioText(ratio) {
    return ratio === null || ratio === undefined ? '\u2013' : '\u00d7' + ratio.toFixed(2);
  }

  function shareText(ratio) {
    return ratio === null || ratio === undefined ? '\u2013' : (100 * ratio).toFixed(1) + ' %';
  }

  // "calls 10 → 12 (×1.20), error ratio 1.0 % → 3.0 % (+2.0 pt), p99 1 ms → 2 ms (×2.00)".
  function changeText(change) {
    if (change.status === 'new') return 'new';
    if (change.status === 'gone') return 'gone (calls before: ' + change.calls[0] + ')';
    const parts = ['calls ' + change.calls[0] + ' \u2192 ' + change.calls[1] + ' (' +
      ratioText(change.calls_ratio) + ')'];
    const diff = change.error_ratio_change;
    parts.push('error ratio ' + shareText(change.error_ratio[0]) + ' \u2192 ' +
      shareText(change.error_ratio[1]) +
      (diff === null ? '' : ' (' + (diff >= 0 ? '+' : '') + (100 * diff).toFixed(1) + ' pt)'));
    parts.push('p99 ' + durationText(change.p99_micros[0]) + ' \u2192 ' +
      durationText(change.p99_micros[1]) + ' (' + ratioText(change.p99_ratio) + ')');
    return parts.join(', ');
  }

  function isWorse(change) {
    return !!change && Array.isArray(change.worse) && change.worse.length > 0;
  }

  // ---- The model: the current graph, and what the baseline adds ------------------------------

  const nodes = [];
  const nodeByName = new Map();
  for (const data of graphData.nodes) {
    const node = { name: data.name, data: data, base: null, status: null, worse: false };
    node.calls = 0;
    node.errors = 0;
    for (const figures of Object.values(data.health.operations)) {
      node.calls += figures.calls;
      node.errors += figures.errors;
    }
    nodes.push(node);
    nodeByName.set(node.name, node);
  }
  const edges = [];
  const edgeKey = (from, to, method) => JSON.stringify([from, to, method]);
  const edgeByKey = new Map();
  for (const data of graphData.edges) {
    const edge = { from: data.from, to: data.to, method: data.method, data: data, base: null,
      status: null, worse: false };
    edges.push(edge);
    edgeByKey.set(edgeKey(edge.from, edge.to, edge.method), edge);
  }
  if (baseline) {
    for (const base of baseline.nodes) {
      let node = nodeByName.get(base.name);
      if (!node) {
        node = { name: base.name, data: null, calls: 0, errors: 0 };
        nodes.push(node);
        nodeByName.set(node.name, node);
      }
      node.base = base;
      node.status = base.status;
      node.worse = ['operations', 'methods', 'direction_unknown'].some(
        (key) => Object.values(base[key] || {}).some(isWorse));
    }
    for (const base of baseline.edges) {
      const key = edgeKey(base.from, base.to, base.method);
      let edge = edgeByKey.get(key);
      if (!edge) {
        edge = { from: base.from, to: base.to, method: base.method, data: null };
        edges.push(edge);
        edgeByKey.set(key, edge);
      }
      edge.base = base;
      edge.status = base.status;
      edge.worse = isWorse(base);
    }
  }

  // ---- Header -------------------------------------------------------------------------------

  function addFact(term, value) {
    const row = document.createElement('div');
    const dt = document.createElement('dt');
    const dd = document.createElement('dd');
    dt.textContent = term;
    dd.textContent = value;
    row.append(dt, dd);
    document.getElementById('facts').append(row);
  }
  const countText = (n) => (n === null || n === undefined ? '\u2013' : n.toLocaleString('en'));
  addFact('Inputs', facts.inputs.join(', ') || '\u2013');
  if (baseline || facts.baseline_inputs.length > 0) {
    addFact('Baseline', facts.baseline_inputs.join(', ') || '\u2013');
  }
  addFact('Traces', countText(facts.traces));
  addFact('Operations', countText(facts.operations));
  addFact('Chains', countText(facts.chains));
  addFact('Services', countText(graphData.nodes.length));
  addFact('Calls', countText(graphData.edges.length));
  addFact('tracemill', facts.version);

  // ---- Layout -------------------------------------------------------------------------------

  const kCharWidth = 7.2;  // of the 12 px label font, wide enough for most names
  const kLineHeight = 16;
  const drawEdgeLabels = edges.length <= 200;
  // Above these sizes the full layered layout takes seconds. A big graph is laid out in layers
  // of its own (see bigLayers) with no search for a better ordering of the ranks.
  const big = nodes.length > 300 || edges.length > 1500;

  function nodeLines(node) {
    const lines = [node.name];
    lines.push(node.data ? 'entry count: ' + node.data.entry_count : 'gone');
    if (node.calls > 0) lines.push('calls: ' + node.calls + ', errors: ' + errorText(node.calls, node.errors));
    return lines;
  }

  // The layers of a big graph: the longest path from the sources, once a depth-first search has
  // set aside the edges that close a cycle. dagre places the nodes in these layers, each beside
  // its busiest caller in the layer before: it routes only that one edge into each node, as
  // every edge it routes costs it a node of its own in each layer crossed, most of its work.
  // The other edges are drawn as curves from node to node.
  function bigLayers() {
    const ends = edges.map((edge) => [nodeByName.get(edge.from).index, nodeByName.get(edge.to).index]);
    const out = nodes.map(() => []);
    ends.forEach(([from], i) => out[from].push(i));
    const state = new Uint8Array(nodes.length);  // 1 on the search's path, 2 done
    const closesCycle = new Uint8Array(edges.length);
    const finished = [];
    for (let start = 0; start < nodes.length; ++start) {
      if (state[start]) continue;
      state[start] = 1;
      const stack = [[start, 0]];
      while (stack.length) {
        const top = stack[stack.length - 1];
        const v = top[0];
        if (top[1] < out[v].length) {
          const e = out[v][top[1]++];
          const w = ends[e][1];
          if (state[w] === 1) closesCycle[e] = 1;
          else if (!state[w]) { state[w] = 1; stack.push([w, 0]); }
        } else {
          state[v] = 2;
          finished.push(v);
          stack.pop();
        }
      }
    }
    const layer = new Int32Array(nodes.length);
    for (let k = finished.length - 1; k >= 0; --k) {
      const v = finished[k];
      for (const e of out[v]) {
        if (!closesCycle[e]) layer[ends[e][1]] = Math.max(layer[ends[e][1]], layer[v] + 1);
      }
    }
    const busiest = new Int32Array(nodes.length).fill(-1);
    const count = (e) => (edges[e].data ? edges[e].data.count : 0);
    ends.forEach(([from, to], e) => {
      if (closesCycle[e] || layer[to] !== layer[from] + 1) return;
      if (busiest[to] < 0 || count(e) > count(busiest[to])) busiest[to] = e;
    });
    const routed = ends.map(([, to], e) => busiest[to] === e);
    return { layer, routed };
  }
  nodes.forEach((node, i) => { node.index = i; });
  const layers = big ? bigLayers() : null;

  const layout = new dagre.graphlib.Graph({ multigraph: true });
  // dagre halves ranksep and puts two of its ranks between neighbouring layers.
  layout.setGraph({ rankdir: 'LR', nodesep: 14, edgesep: 8, ranksep: big ? 80 : 60,
    marginx: 20, marginy: 20, ranker: big ? 'none' : 'network-simplex' });
  nodes.forEach((node, i) => {
    node.lines = nodeLines(node);
    const longest = Math.max(...node.lines.map((line) => line.length));
    node.width = Math.min(360, Math.ceil(longest * kCharWidth) + 20);
    node.height = node.lines.length * kLineHeight + 14;
    const laid = { width: node.width, height: node.height };
    if (layers) laid.rank = 2 * layers.layer[i];
    layout.setNode(String(i), laid);
  });
  // The method as the edge's label shows it: at most 35 characters (about 240 px), a longer one
  // cut with an ellipsis (the panel and the table show it whole).
  const labelText = (edge) =>
    edge.method.length <= 35 ? edge.method : edge.method.slice(0, 34) + '\u2026';
  // "new" or "worse: ..." above an edge's label.
  const edgeBadge = (edge) =>
    edge.status === 'new' ? 'new' : edge.worse ? 'worse: ' + edge.base.worse.join(', ') : '';
  edges.forEach((edge, i) => {
    if (layers && !layers.routed[i]) return;
    // A badge takes a line of the label's room, so that dagre keeps it clear of the labels of
    // parallel edges.
    const badge = edgeBadge(edge);
    const label = drawEdgeLabels ? { width: Math.max(labelText(edge).length * 6.6,
      badge.length * 6.2) + 8, height: badge ? 30 : 14, labelpos: 'c' } : {};
    label.minlen = 1;
    layout.setEdge(String(nodeByName.get(edge.from).index), String(nodeByName.get(edge.to).index),
      label, String(i));
  });
  const layoutStart = performance.now();
  dagre.layout(layout, big ? { disableOptimalOrderHeuristic: true } : {});
  const layoutMs = performance.now() - layoutStart;
  phases.laidOut = performance.now();

  // ---- Drawing ------------------------------------------------------------------------------

  const svg = document.getElementById('graph');
  const viewport = document.getElementById('viewport');

  function svgElement(name, attributes) {
    const element = document.createElementNS(SVG, name);
    for (const [key, value] of Object.entries(attributes || {})) element.setAttribute(key, value);
    return element;
  }

  // An arrowhead of its own at the end of each edge: SVG markers cost Chromium far more to lay
  // out, once per edge.
  function arrowHead(points, color) {
    const a = points[points.length - 2];
    const b = points[points.length - 1];
    const length = Math.hypot(b.x - a.x, b.y - a.y) || 1;
    const ux = (b.x - a.x) / length;
    const uy = (b.y - a.y) / length;
    const bx = b.x - 9 * ux;
    const by = b.y - 9 * uy;
    const d = 'M' + b.x.toFixed(1) + ',' + b.y.toFixed(1) + 'L' + (bx - 4 * uy).toFixed(1) + ',' +
      (by + 4 * ux).toFixed(1) + 'L' + (bx + 4 * uy).toFixed(1) + ',' + (by - 4 * ux).toFixed(1) + 'Z';
    return svgElement('path', { class: 'arrow', d: d, fill: color });
  }

  // An edge dagre did not route: a curve from the caller's right side to the callee's left
  // side, level at both ends; more curves between the same two nodes bow apart, 8 px a step,
  // alternately up and down. `points` are the last two of its control points, for the arrow.
  const curvesBetween = new Map();
  function curve(edge) {
    const from = layout.node(String(nodeByName.get(edge.from).index));
    const to = layout.node(String(nodeByName.get(edge.to).index));
    const pair = edge.from + '\n' + edge.to;
    const k = curvesBetween.get(pair) || 0;
    curvesBetween.set(pair, k + 1);
    const bow = (k % 2 ? -1 : 1) * Math.ceil(k / 2) * 8 / 0.75;
    const a = { x: from.x + from.width / 2, y: from.y };
    const b = { x: to.x - to.width / 2, y: to.y };
    const bend = Math.max(40, Math.abs(b.x - a.x) / 3);
    const c1 = { x: a.x + bend, y: a.y + bow };
    const c2 = { x: b.x - bend, y: b.y + bow };
    const f = (p) => p.x.toFixed(1) + ',' + p.y.toFixed(1);
    return { d: 'M' + f(a) + 'C' + f(c1) + ' ' + f(c2) + ' ' + f(b), points: [c2, b],
      mid: { x: (a.x + 3 * c1.x + 3 * c2.x + b.x) / 8, y: (a.y + 3 * c1.y + 3 * c2.y + b.y) / 8 } };
  }

  function edgeFigures(edge) {
    return edge.data ? edge.data.health : null;
  }

  const edgeLayer = svgElement('g', { class: 'edges' });
  const nodeLayer = svgElement('g', { class: 'nodes' });
  edges.forEach((edge, i) => {
    const laid = layers && !layers.routed[i] ? curve(edge) :
      layout.edge(String(nodeByName.get(edge.from).index), String(nodeByName.get(edge.to).index),
        String(i));
    const d = laid.d || 'M' + laid.points.map((p) => p.x.toFixed(1) + ',' + p.y.toFixed(1)).join('L');
    const figures = edgeFigures(edge);
    const group = svgElement('g', { class: 'edge', tabindex: '0', role: 'button' });
    group.setAttribute('aria-label', edge.from + ' \u2192 ' + edge.to + ': ' + edge.method);
    const line = svgElement('path', { class: 'line', d: d });
    let arrow = null;
    if (figures && figures.calls > 0) {
      const style = edgeStyle(figures.calls, figures.errors);
      line.setAttribute('stroke', style.color);
      line.setAttribute('stroke-width', style.width);
      arrow = arrowHead(laid.points, style.color);
    } else {
      group.classList.add('idle');
      line.setAttribute('stroke-width', '1.5');
      arrow = arrowHead(laid.points, '#868e96');
    }
    if (edge.status) group.classList.add(edge.status);
    // A wider invisible stroke to hit and a tooltip, where their cost does not count.
    if (!big) {
      const title = svgElement('title');
      title.textContent = edge.from + ' \u2192 ' + edge.to + '\n' + edge.method +
        (figures ? '\ncalls: ' + figures.calls + ', errors: ' + errorText(figures.calls, figures.errors) +
          ', p99: ' + durationText(figures.latency_micros.p99) : '');
      group.append(title, svgElement('path', { class: 'hit', d: d }));
    }
    group.append(line, arrow);
    group.dataset.edge = String(i);
    const badge = edgeBadge(edge);
    // In the upper line of the label's room where there is a label, else above the middle of
    // the line.
    const mid = drawEdgeLabels ? { x: laid.x, y: laid.y + 3 } :
      laid.mid || laid.points[Math.floor(laid.points.length / 2)];
    if (drawEdgeLabels) {
      const label = svgElement('text', { class: 'edge-label', x: laid.x,
        y: laid.y + (badge ? 12 : 4), 'text-anchor': 'middle' });
      label.textContent = labelText(edge);
      group.append(label);
    }
    if (badge) {
      const text = svgElement('text', { class: 'badge ' + (edge.status === 'new' ? 'new' : 'worse'),
        x: mid.x, y: mid.y - 6, 'text-anchor': 'middle' });
      text.textContent = badge;
      group.append(text);
    }
    edge.element = group;
    edgeLayer.append(group);
  });
  nodes.forEach((node) => {
    const laid = layout.node(String(node.index));
    const x = laid.x - node.width / 2;
    const y = laid.y - node.height / 2;
    const group = svgElement('g', { class: 'node', tabindex: '0', role: 'button',
      transform: 'translate(' + x.toFixed(1) + ',' + y.toFixed(1) + ')' });
    group.setAttribute('aria-label', node.name);
    group.dataset.node = String(node.index);
    if (node.data && node.data.virtual_peer) group.classList.add('virtual');
    if (node.status) group.classList.add(node.status);
    group.append(svgElement('rect', { width: node.width, height: node.height, rx: '4' }));
    node.lines.forEach((line, i) => {
      const text = svgElement('text', { x: '10', y: String(20 + i * kLineHeight),
        class: i === 0 ? 'name' : 'figures' });
      text.textContent = line;
      group.append(text);
    });
    const badge = node.status === 'new' ? 'new' : node.worse ? 'worse' : '';
    if (badge) {
      const text = svgElement('text', { class: 'badge ' + badge, x: String(node.width - 4), y: '-4',
        'text-anchor': 'end' });
      text.textContent = badge;
      group.append(text);
    }
    const title = svgElement('title');
    title.textContent = node.name;
    group.append(title);
    node.element = group;
    nodeLayer.append(group);
  });
  // No text until fit() has measured the window and chosen the scale (see applyView).
  svg.classList.add('far');
  viewport.append(edgeLayer, nodeLayer);
  phases.drawn = performance.now();

  // ---- Pan, zoom, fit -----------------------------------------------------------------------

  const view = { x: 0, y: 0, k: 1 };
  // Text of under 3 px on the screen is not drawn at all: laying out the labels of thousands of
  // nodes would cost the first frame of a big graph most of its time, for text nobody can read.
  function applyView() {
    viewport.setAttribute('transform',
      'translate(' + view.x.toFixed(1) + ',' + view.y.toFixed(1) + ') scale(' + view.k.toFixed(4) + ')');
    svg.classList.toggle('far', view.k * 12 < 3);
  }
  function fit() {
    const size = layout.graph();
    const width = svg.clientWidth || 800;
    const height = svg.clientHeight || 600;
    view.k = Math.min(1.5, width / Math.max(size.width, 1), height / Math.max(size.height, 1));
    view.x = (width - size.width * view.k) / 2;
    view.y = (height - size.height * view.k) / 2;
    applyView();
  }
  function zoomAt(factor, cx, cy) {
    const k = Math.min(8, Math.max(0.02, view.k * factor));
    view.x = cx - (cx - view.x) * (k / view.k);
    view.y = cy - (cy - view.y) * (k / view.k);
    view.k = k;
    applyView();
  }
  const zoomCentre = (factor) => zoomAt(factor, svg.clientWidth / 2, svg.clientHeight / 2);
  svg.addEventListener('wheel', (event) => {
    event.preventDefault();
    const box = svg.getBoundingClientRect();
    zoomAt(Math.exp(-event.deltaY * 0.0015), event.clientX - box.left, event.clientY - box.top);
  }, { passive: false });
  let drag = null;
  svg.addEventListener('pointerdown', (event) => {
    if (event.button !== 0) return;
    drag = { x: event.clientX, y: event.clientY, vx: view.x, vy: view.y, moved: false };
  });
  window.addEventListener('pointermove', (event) => {
    if (!drag) return;
    const dx = event.clientX - drag.x;
    const dy = event.clientY - drag.y;
    if (!drag.moved && Math.abs(dx) + Math.abs(dy) < 4) return;
    if (!drag.moved) svg.setPointerCapture(event.pointerId);
    drag.moved = true;
    svg.classList.add('dragging');
    view.x = drag.vx + dx;
    view.y = drag.vy + dy;
    applyView();
  });
  let dragged = false;
  window.addEventListener('pointerup', () => {
    dragged = !!drag && drag.moved;
    drag = null;
    svg.classList.remove('dragging');
  });
  document.getElementById('zoom-in').addEventListener('click', () => zoomCentre(1.25));
  document.getElementById('zoom-out').addEventListener('click', () => zoomCentre(0.8));
  document.getElementById('fit').addEventListener('click', fit);

  // ---- The panel ----------------------------------------------------------------------------

  const panel = document.getElementById('panel');
  const panelTitle = document.getElementById('panel-title');
  const panelBody = document.getElementById('panel-body');
  let opener = null;
  let selected = null;

  function element(name, text, className) {
    const e = document.createElement(name);
    if (text !== undefined) e.textContent = text;
    if (className) e.className = className;
    return e;
  }

  // One method's figures as a table: calls, errors, error ratio, quantiles, statuses, logs.
  function figuresTable(figures, chains) {
    const table = element('table');
    const row = (term, value) => {
      const tr = element('tr');
      tr.append(element('th', term), element('td', value));
      table.append(tr);
    };
    if (chains !== undefined) row('chains', String(chains));
    row('calls', String(figures.calls));
    row('errors', String(figures.errors));
    row('error ratio', errorText(figures.calls, figures.errors));
    const latency = figures.latency_micros;
    row('p50', durationText(latency.p50));
    row('p90', durationText(latency.p90));
    row('p99', durationText(latency.p99));
    const statuses = Object.entries(figures.http_status).map(([code, n]) => code + ': ' + n);
    row('HTTP status', statuses.join(', ') || '\u2013');
    row('error logs', figures.error_logs.length === 0 ? '\u2013'
      : figures.error_logs.map((log) => log.text + ' (' + log.count + ')').join('\n'));
    table.lastChild.lastChild.className = 'pre';
    return table;
  }

  function changeLine(change) {
    return element('p', 'Change: ' + changeText(change) +
      (isWorse(change) ? ' \u2014 worse: ' + change.worse.join(', ') : ''),
    'change' + (isWorse(change) ? ' worse' : ''));
  }

  function openPanel(title, fill, from) {
    panelTitle.textContent = title;
    panelBody.replaceChildren();
    fill(panelBody);
    panel.hidden = false;
    if (selected) selected.classList.remove('selected');
    selected = from && from.closest('svg') ? from : null;
    if (selected) selected.classList.add('selected');
    opener = from;
    panel.focus();
  }

  function closePanel() {
    if (panel.hidden) return;
    panel.hidden = true;
    if (selected) selected.classList.remove('selected');
    selected = null;
    if (opener && opener.isConnected) opener.focus();
    opener = null;
  }

  const kSections = [['operations', 'Received'], ['methods', 'Made'],
    ['direction_unknown', 'Unknown direction']];

  function openNode(node) {
    openPanel(node.name, (body) => {
      const data = node.data;
      if (data) {
        body.append(element('p', 'entry count: ' + data.entry_count +
          (data.virtual_peer ? ' \u00b7 virtual peer' : '')));
      }
      if (node.status) body.append(element('p', 'Baseline: ' + node.status, 'change'));
      for (const [key, heading] of kSections) {
        const health = data ? data.health[key] : {};
        const changes = node.base ? node.base[key] || {} : {};
        const methods = [...new Set([...Object.keys(health), ...Object.keys(changes)])].sort();
        const section = element('section');
        section.append(element('h3', heading + ' (' + methods.length + ')'));
        for (const method of methods) {
          section.append(element('h4', method));
          if (health[method]) section.append(figuresTable(health[method], data[key][method]));
          if (changes[method]) section.append(changeLine(changes[method]));
        }
        if (methods.length === 0) section.append(element('p', 'none', 'change'));
        body.append(section);
      }
    }, node.element);
  }

  function openEdge(edge, from) {
    openPanel(edge.from + ' \u2192 ' + edge.to, (body) => {
      body.append(element('h4', edge.method));
      if (edge.data) body.append(figuresTable(edge.data.health, edge.data.count));
      if (edge.base) body.append(changeLine(edge.base));
    }, from || edge.element);
  }

  document.getElementById('panel-close').addEventListener('click', closePanel);
  document.addEventListener('keydown', (event) => {
    if (event.key === 'Escape') {
      closePanel();
      return;
    }
    const target = event.target;
    const typing = target instanceof HTMLInputElement;
    if (!typing && (target === svg || svg.contains(target) || target === document.body)) {
      if (event.key === '+' || event.key === '=') zoomCentre(1.25);
      else if (event.key === '-') zoomCentre(0.8);
      else if (event.key === '0') fit();
    }
  });

  function activate(handler) {
    return (event) => {
      if (event.type === 'click' && dragged) return;
      if (event.type === 'keydown' && event.key !== 'Enter' && event.key !== ' ') return;
      event.preventDefault();
      handler();
    };
  }
  // One listener for all nodes and edges: thousands of their own would slow the start.
  function openTarget(event) {
    const target = event.target.closest('[data-node], [data-edge]');
    if (!target) return;
    activate(() => {
      if (target.dataset.node !== undefined) openNode(nodes[Number(target.dataset.node)]);
      else openEdge(edges[Number(target.dataset.edge)]);
    })(event);
  }
  svg.addEventListener('click', openTarget);
  svg.addEventListener('keydown', openTarget);

  // ---- Search -------------------------------------------------------------------------------

  const search = document.getElementById('search');
  const matches = document.getElementById('matches');
  search.addEventListener('input', () => {
    const query = search.value.trim().toLowerCase();
    let count = 0;
    for (const node of nodes) {
      const match = query !== '' && node.name.toLowerCase().includes(query);
      node.element.classList.toggle('match', match);
      if (match) ++count;
    }
    matches.textContent = query === '' ? ''
      : count + (count === 1 ? ' service matches' : ' services match');
  });

  // ---- The table of calls -------------------------------------------------------------------

  const table = document.getElementById('edges');
  const columns = [
    ['From', (e) => e.from, false], ['To', (e) => e.to, false], ['Method', (e) => e.method, false],
    ['Chains', (e) => (e.data ? e.data.count : -1), true],
    ['Calls', (e) => (e.data ? e.data.health.calls : -1), true],
    ['Errors', (e) => (e.data ? e.data.health.errors : -1), true],
    ['Error ratio', (e) => (e.data && e.data.health.calls > 0 ? e.data.health.errors / e.data.health.calls : -1), true],
    ['p99', (e) => (e.data && e.data.health.latency_micros.p99 !== null ? e.data.health.latency_micros.p99 : -1), true],
  ];
  if (baseline) columns.push(['Change', (e) => (e.base ? (e.worse ? 0 : e.status === 'kept' ? 3 : 1) : 4), false]);
  const headRow = element('tr');
  const rows = edges.map((edge, index) => {
    const tr = element('tr');
    tr.tabIndex = 0;
    const figures = edgeFigures(edge);
    const cells = [edge.from, edge.to, edge.method,
      edge.data ? String(edge.data.count) : '\u2013',
      figures ? String(figures.calls) : '\u2013', figures ? String(figures.errors) : '\u2013',
      figures ? errorText(figures.calls, figures.errors) : '\u2013',
      figures ? durationText(figures.latency_micros.p99) : '\u2013'];
    if (baseline) cells.push(edge.base ? (edge.worse ? 'worse: ' + edge.base.worse.join(', ') : edge.status) : '');
    cells.forEach((text, i) => {
      tr.append(element('td', text, i < 3 ? 'name' : i < 8 ? 'number' : ''));
    });
    tr.dataset.edge = String(index);
    edge.row = tr;
    return tr;
  });
  const tbody = table.tBodies[0];
  function openRow(event) {
    const tr = event.target.closest('tr[data-edge]');
    if (tr) activate(() => openEdge(edges[Number(tr.dataset.edge)], tr))(event);
  }
  tbody.addEventListener('click', openRow);
  tbody.addEventListener('keydown', openRow);
  // A table of thousands of rows takes the browser seconds to lay out: the first kRowsShown
  // rows in the order chosen show at once, the others on request.
  const kRowsShown = 500;
  let shownOrder = edges.map((edge, i) => i);
  let allRows = edges.length <= kRowsShown;
  const more = document.getElementById('more-rows');
  function showRows() {
    const order = allRows ? shownOrder : shownOrder.slice(0, kRowsShown);
    tbody.replaceChildren(...order.map((i) => rows[i]));
    more.hidden = allRows;
    more.textContent = 'Show all ' + edges.length.toLocaleString('en') + ' calls';
  }
  more.addEventListener('click', () => {
    allRows = true;
    showRows();
  });
  let sortColumn = -1;
  let sortDown = false;
  function sortBy(index) {
    sortDown = sortColumn === index ? !sortDown : columns[index][2];
    sortColumn = index;
    const key = columns[index][1];
    const order = edges.map((edge, i) => i);
    order.sort((a, b) => {
      const x = key(edges[a]);
      const y = key(edges[b]);
      const c = x < y ? -1 : x > y ? 1 : a - b;
      return sortDown ? -c : c;
    });
    shownOrder = order;
    showRows();
    headRow.querySelectorAll('th').forEach((th, i) => {
      th.setAttribute('aria-sort', i !== index ? 'none' : sortDown ? 'descending' : 'ascending');
    });
  }
  columns.forEach(([name, , numeric], i) => {
    const th = element('th', undefined, numeric ? 'number' : '');
    th.scope = 'col';
    const button = element('button', name);
    button.type = 'button';
    button.addEventListener('click', () => sortBy(i));
    th.append(button);
    headRow.append(th);
  });
  table.tHead.append(headRow);
  showRows();
  phases.table = performance.now();

  // ---- Baseline: changes only ---------------------------------------------------------------

  if (baseline) {
    const label = document.getElementById('changes-label');
    label.hidden = false;
    const changed = (edge) => edge.status !== 'kept' || edge.worse;
    document.getElementById('changes-only').addEventListener('change', (event) => {
      const only = event.target.checked;
      const keep = new Set();
      for (const edge of edges) {
        const hide = only && !changed(edge);
        edge.element.classList.toggle('hidden', hide);
        edge.row.classList.toggle('hidden', hide);
        if (!hide) keep.add(edge.from).add(edge.to);
      }
      for (const node of nodes) {
        const nodeChanged = node.status !== 'kept' || node.worse;
        node.element.classList.toggle('hidden', only && !nodeChanged && !keep.has(node.name));
      }
    });
  }

  // ---- Legend -------------------------------------------------------------------------------

  const legend = document.getElementById('legend');
  for (const [color, text] of [['#2f9e44', 'no errors'], ['#b8860b', '< 1 % errors'],
    ['#e8590c', '< 5 %'], ['#e03131', '\u2265 5 %']]) {
    const item = element('span', text);
    item.style.setProperty('--swatch', color);
    legend.append(item);
  }

  fit();
  window.addEventListener('resize', fit);

  // A read-only summary for scripts and tests: what the page drew, and when it became usable
  // (the first frame with the graph has been rendered and every handler is attached).
  requestAnimationFrame(() => setTimeout(() => {
    const interactiveMs = performance.now();
    window.tracemillReport = Object.freeze({
      nodes: Object.freeze(nodes.map((node) => Object.freeze({ name: node.name,
        status: node.status, worse: node.worse }))),
      edges: Object.freeze(edges.map((edge) => Object.freeze({ from: edge.from, to: edge.to,
        method: edge.method, status: edge.status, worse: edge.worse }))),
      baseline: !!baseline,
      layoutMs: layoutMs,
      interactiveMs: interactiveMs,
      phases: Object.freeze(phases),
    });
  }, 0));
}()).catch((error) => {
  const message = document.createElement('p');
  message.id = 'failure';
  message.textContent = 'The page could not show the graph: ' + error;
  document.getElementById('main').prepend(message);
  throw error;
});
