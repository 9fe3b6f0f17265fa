// The report of one match (/matches/ID): who played, the figures side by
// side, and each leg as a chart of the scores left, with its visits as a
// table. A match being played is followed on its board's event stream.

import { byId, element } from './dom.js';
import { drawWhenSized, lineChart, numberTicks, swatch } from './chart.js';
import { formatText } from './match.js';
import {
  STATUS, dataTable, dateTime, decimal, figuresTable, link, playerHref, scrolling, showMessage,
} from './figures.js';

// The id as the address carries it, percent-encoded as the server got it.
const id = location.pathname.split('/')[2] ?? '';
const main = byId('main');
const NOTES = { checkout: ' (utgång)', open: ' (pågår)' };


// The score: legs won by each player, or sets when the match has sets.
function score(report) {
  const count = report.players.length;
  const legs = new Map();
  const sets = Array(count).fill(0);
  for (const leg of report.legs) {
    if (leg.winner < 0) continue;
    const won = legs.get(leg.set) ?? Array(count).fill(0);
    won[leg.winner] += 1;
    legs.set(leg.set, won);
    if (won[leg.winner] === report.format.legs) sets[leg.winner] += 1;
  }
  if (report.format.sets > 1) return `${sets.join('–')} i set`;
  return `${(legs.get(1) ?? Array(count).fill(0)).join('–')} i leg`;
}

function resultText(report) {
  const winner = report.players[report.winner]?.name;
  if (report.status === 'finished' && winner !== undefined) {
    return `${winner} vann med ${score(report)}`;
  }
  return `${STATUS[report.status] ?? report.status}, ${score(report)}`;
}

// Whether the match counts in careers, and why not when it is void.
function countsText(report) {
  if (report.void) return 'Nej, matchen är struken';
  return report.counts ? 'Ja' : 'Nej';
}

function facts(report) {
  const list = element('dl', 'match-facts');
  const board = link(`/boards/${report.board}`, `Tavla ${report.board}`);
  const csv = link(`/api/matches/${id}/darts.csv`, 'Alla pilar (CSV)');
  csv.id = 'csv';
  csv.download = '';
  for (const [term, value] of [['Datum', dateTime(report.date)], ['Tavla', board],
    ['Format', formatText(report.format)], ['Resultat', resultText(report)],
    ['Räknas', countsText(report)], ['Pilarna', csv]]) {
    const item = element('div');
    const detail = element('dd');
    detail.append(value);
    item.append(element('dt', '', term), detail);
    list.append(item);
  }
  return list;
}

const remaining = (visit) => visit.start_score - visit.points;

// The visits of a leg in the order they were thrown, from the starter on.
function visitsInOrder(leg, names) {
  const rows = [];
  const rounds = Math.max(...leg.players.map((player) => player.visits.length));
  for (let round = 0; round < rounds; round += 1) {
    for (let k = 0; k < names.length; k += 1) {
      const player = (leg.starter + k) % names.length;
      const visit = leg.players[player]?.visits[round];
      if (!visit) continue;
      const points = visit.outcome === 'bust'
        ? 'Bust' : `${visit.points}${NOTES[visit.outcome] ?? ''}`;
      rows.push([String(round + 1), names[player], visit.darts.join(' '), points,
        String(remaining(visit))]);
    }
  }
  return rows;
}

// `start`: the score every leg begins from, as the report gives it.
function legChart(leg, names, title, start) {
  const visits = Math.max(1, ...leg.players.map((player) => player.visits.length));
  const series = leg.players.map((player, index) => ({
    name: names[index],
    // From the start, where every line begins (without a marker).
    points: [[0, player.visits[0]?.start_score ?? start],
      ...player.visits.map((visit, n) => [n + 1, remaining(visit)])],
    marked: 1,
  }));
  const scores = series.map(({ name, points }) =>
    `${name}: ${points.slice(1).map(([, left]) => left).join(', ') || 'ingen tur'}.`);
  const description = `Kvar efter varje tur. ${scores.join(' ')}`;
  return (size) => lineChart({
    title,
    description,
    x: { min: 0, max: visits, title: 'Tur', ticks: (count) => numberTicks(0, visits, count) },
    y: { min: 0, max: start, title: 'Kvar', ticks: (count) => numberTicks(0, start, count) },
    series,
  }, size);
}

function legSection(leg, report, open) {
  const names = report.players.map((player) => player.name);
  const section = element('section', 'leg-report');
  section.dataset.leg = `${leg.set}-${leg.leg}`;
  const title = report.format.sets > 1 ? `Set ${leg.set}, leg ${leg.leg}` : `Leg ${leg.leg}`;
  const heading = element('h2', '', title);
  const outcome = leg.winner >= 0 ? `Vann: ${names[leg.winner]}` : 'Pågår';
  const about = element('p', 'leg-about', `Började: ${names[leg.starter] ?? '–'} · ${outcome}`);

  const figure = element('figure', 'leg-chart');
  const holder = element('div', 'chart-holder');
  const chartTitle = `${title}: kvar efter varje tur`;
  drawWhenSized(holder, legChart(leg, names, chartTitle, report.start_score));
  const legend = element('ul', 'chart-legend');
  leg.players.forEach((player, index) => {
    const item = element('li');
    const { three_dart_average: average, darts } = player.figures;
    item.append(swatch(index), element('span', 'legend-name', names[index]),
      element('span', 'legend-figures', `snitt ${decimal(average)}, ${darts} pilar`));
    legend.append(item);
  });
  figure.append(holder, legend);

  const details = element('details', 'leg-visits');
  details.open = open;
  details.append(element('summary', '', 'Turerna som tabell'),
    scrolling(dataTable(`${title}: turerna`, ['Tur', 'Spelare', 'Pilar', 'Poäng', 'Kvar'],
      visitsInOrder(leg, names))));
  section.append(heading, about, figure, details);
  return section;
}

// The chances to win the match at its start and after every visit (the
// report's "win_chance"), as a chart whose text alternative gives them at
// the start and at each leg's end; null when the report has none.
function chanceSection(report) {
  const points = report.win_chance?.points ?? [];
  if (!points.length) return null;
  const names = report.players.map((player) => player.name);
  const percent = (chance) => Math.round(chance * 1000) / 10;
  const series = names.map((name, index) => ({
    name,
    points: points.map((point, n) => [n, percent(point.match[index])]),
    marked: points.length,
  }));
  const at = (point) => names.map((name, index) =>
    `${name} ${Math.round(point.match[index] * 100)} %`).join(', ');
  const legName = (point) =>
    (report.format.sets > 1 ? `set ${point.set}, leg ${point.leg}` : `leg ${point.leg}`);
  const said = [`Vid start: ${at(points[0])}.`];
  points.forEach((point, n) => {
    const next = points[n + 1];
    if (n === 0 || (next && next.set === point.set && next.leg === point.leg)) return;
    const won = report.legs.some((leg) =>
      leg.set === point.set && leg.leg === point.leg && leg.winner >= 0);
    said.push(`${won ? `Efter ${legName(point)}` : 'Nu'}: ${at(point)}.`);
  });
  const title = 'Chansen att vinna matchen efter varje tur';
  const last = Math.max(1, points.length - 1);
  const chart = (size) => lineChart({
    title,
    description: `${title}, i procent. ${said.join(' ')}`,
    x: { min: 0, max: last, title: 'Tur', ticks: (count) => numberTicks(0, last, count) },
    y: { min: 0, max: 100, title: 'Procent', ticks: (count) => numberTicks(0, 100, count) },
    series,
  }, size);
  const section = element('section', 'chance-report');
  const figure = element('figure', 'leg-chart');
  const holder = element('div', 'chart-holder');
  drawWhenSized(holder, chart);
  const legend = element('ul', 'chart-legend');
  const estimated = report.win_chance.estimated ?? [];
  names.forEach((name, index) => {
    const item = element('li');
    item.append(swatch(index), element('span', 'legend-name', name),
      element('span', 'legend-figures', estimated[index] ? 'uppskattad' : ''));
    legend.append(item);
  });
  figure.append(holder, legend);
  section.append(element('h2', '', 'Chansen att vinna'), figure);
  if (estimated.some(Boolean)) {
    section.append(element('p', 'chance-about',
      'Uppskattad: utan egen träffsäkerhet räknas spelaren som en klubbspelare.'));
  }
  return section;
}

function render(report) {
  const names = report.players.map((player) => player.name);
  document.title = `${names.join(' – ')} · Matchrapport`;
  // The visits a reader opened stay open when the report is drawn again.
  const open = new Set([...main.querySelectorAll('.leg-report')].filter((leg) =>
    leg.querySelector('details').open).map((leg) => leg.dataset.leg));

  const title = element('h1', 'report-title');
  names.forEach((name, index) => {
    if (index) title.append(' – ');
    title.append(link(playerHref(name), name));
  });
  const live = element('p', 'live-note',
    report.status === 'playing' ? 'Matchen pågår; rapporten följer den.' : '');
  const legs = element('div', 'leg-list');
  legs.append(...report.legs.map((leg) =>
    legSection(leg, report, open.has(`${leg.set}-${leg.leg}`))));
  if (!report.legs.length) legs.append(element('p', 'none-yet', 'Inga pilar än.'));
  const about = element('div', 'match-about');
  about.append(title, live, facts(report),
    figuresTable('Matchen', report.players.map(({ name, figures }) => ({ name, figures }))));
  const chances = chanceSection(report);
  if (chances) about.append(chances);
  // A wide screen sets the figures beside the legs when they fit there.
  main.classList.add('match-report');
  main.dataset.players = String(names.length);
  main.replaceChildren(about, legs);
}

// Reads the report, and again whenever the board changes while the match
// is being played: one read at a time, at most one a REFRESH_MS, and one
// more for what came during it. Each read names the report shown by its
// entity tag, so that one that has not changed costs a 304 and no drawing.
const REFRESH_MS = 1000;
let events = null;
let reading = false;
let again = false;
let lastRead = 0;
let tag = null;

async function read() {
  try {
    const headers = tag ? { 'If-None-Match': tag } : {};
    const response = await fetch(`/api/matches/${id}`, { cache: 'no-store', headers });
    if (response.status === 304) return;
    if (response.status === 404) {
      showMessage(main, 'Matchen finns inte', 'Den här servern har ingen match med det id:t.');
      return;
    }
    const body = response.status === 200 ? await response.json().catch(() => null) : null;
    if (!body) throw new Error(String(response.status));
    render(body);
    tag = response.headers.get('ETag');
    byId('problem').hidden = true;
    if (body.status === 'playing' && !events) {
      events = new EventSource(`/api/boards/${body.board}/events`);
      for (const type of ['state', 'update']) events.addEventListener(type, load);
    } else if (body.status !== 'playing' && events) {
      events.close();
      events = null;
    }
  } catch {
    const problem = byId('problem');
    problem.textContent = 'Kunde inte hämta matchen. Ladda om sidan.';
    problem.hidden = false;
  }
}

async function load() {
  if (reading) {
    again = true;
    return;
  }
  reading = true;
  do {
    const wait = lastRead + REFRESH_MS - Date.now();
    if (wait > 0) await new Promise((resolve) => setTimeout(resolve, wait));
    again = false;
    lastRead = Date.now();
    await read();
  } while (again);
  reading = false;
}

load();
