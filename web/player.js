// A player's career (/players/NAME): the figures over the matches that
// count, the three-dart average of each of them over time, their accuracy
// (accuracy.js), and the matches
// themselves; apart from them those that count in no figure: abandoned,
// practice against the computer, and others (being played).

import { accuracySection } from './accuracy.js';
import { byId, element } from './dom.js';
import { drawWhenSized, lineChart, niceCeiling, numberTicks, timeTicks } from './chart.js';
import {
  RESULTS, checkout, dataTable, dateTime, decimal, figureTiles, getJson, link, matchHref,
  playerHref, scrolling, showMessage,
} from './figures.js';

// The name as the address carries it, percent-encoded as the server got it.
const segment = location.pathname.split('/')[2] ?? '';
const main = byId('main');
const HOUR = 3_600_000;

function averageChart(matches) {
  const points = matches.filter((match) => match.three_dart_average != null)
    .map((match) => [Date.parse(match.date), match.three_dart_average]).reverse();
  if (!points.length) return null;
  const times = points.map(([time]) => time);
  const [first, latest] = [times[0], times[times.length - 1]];
  const averages = points.map(([, average]) => average);
  // A little room either side, so that the first and last markers show whole.
  const span = Math.max(latest - first, 2 * HOUR);
  const x = { min: first - span * 0.04, max: latest + span * 0.04 };
  const top = niceCeiling(Math.max(...averages));
  const description = `Snitt i ${points.length} matcher från ${dateTime(first)} till ` +
    `${dateTime(latest)}: lägst ${decimal(Math.min(...averages))}, högst ` +
    `${decimal(Math.max(...averages))}, senast ${decimal(averages[averages.length - 1])}. ` +
    'Matcherna finns i tabellen nedanför.';
  return (size) => lineChart({
    title: 'Snitt per match',
    description,
    x: { ...x, title: 'Datum', ticks: (count) => timeTicks(x.min, x.max, count) },
    y: { min: 0, max: top, title: 'Snitt', ticks: (count) => numberTicks(0, top, count) },
    series: [{ name: 'Snitt', points }],
  }, size);
}

function opponents(names) {
  const cell = element('span');
  names.forEach((name, index) => {
    if (index) cell.append(', ');
    cell.append(link(playerHref(name), name));
  });
  return cell;
}

// The lists of matches that count in no figure, each under its heading.
const APART = [
  ['abandoned', 'Avbrutna'],
  ['practice', 'Träning'],
  ['other', 'Räknas inte'],
];

function matchRows(matches) {
  return matches.map((match) => [
    link(matchHref(match.id), dateTime(match.date)),
    opponents(match.opponents),
    RESULTS[match.result] ?? match.result,
    decimal(match.three_dart_average),
    decimal(match.first_nine_average),
    checkout(match),
    `Tavla ${match.board}`,
  ]);
}

const HEADINGS = ['Datum', 'Mot', 'Resultat', 'Snitt', 'Första nio', 'Utgångar', 'Tavla'];

function apart(career) {
  const sections = [];
  for (const [key, heading] of APART) {
    const matches = career[key] ?? [];
    if (!matches.length) continue;
    const section = element('section', 'career-apart');
    section.dataset.list = key;
    section.append(element('h2', '', heading),
      scrolling(dataTable('', HEADINGS, matchRows(matches), 'data-table career-matches')));
    sections.push(section);
  }
  return sections;
}

function render(career) {
  document.title = `${career.name} · Spelare`;
  const count = career.matches.length;
  const summary = element('p', 'career-count', `${count} ${count === 1 ? 'match' : 'matcher'}`);
  const figure = element('figure', 'career-chart');
  const chart = averageChart(career.matches);
  if (chart) {
    const holder = element('div', 'chart-holder');
    drawWhenSized(holder, chart);
    figure.append(holder,
      element('figcaption', '', 'Tredartssnittet i varje match, äldst till vänster.'));
  } else {
    figure.append(element('p', 'none-yet', 'Inget snitt än.'));
  }
  const table = dataTable('Matcherna, senaste först', HEADINGS, matchRows(career.matches),
    'data-table career-matches');
  main.replaceChildren(element('h1', 'report-title', career.name), summary,
    figureTiles(career.figures), figure,
    accuracySection(career.accuracy, career.accuracy_history), scrolling(table), ...apart(career));
}

async function load() {
  try {
    const { status, body } = await getJson(`/api/players/${segment}`);
    if (status === 404) {
      showMessage(main, 'Spelaren finns inte', 'Klubben har ingen spelare med det namnet.');
      return;
    }
    if (status !== 200 || !body) throw new Error(String(status));
    render(body);
  } catch {
    const problem = byId('problem');
    problem.textContent = 'Kunde inte hämta spelaren. Ladda om sidan.';
    problem.hidden = false;
  }
}

load();
