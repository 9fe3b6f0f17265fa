// A player's accuracy on their page: a dartboard with the spread of their
// darts around the treble 20 (one and two sigma) and the best aim for their
// sigma, and their sigma month by month; each with a text that says the same.

import { element } from './dom.js';
import { drawWhenSized, lineChart, niceCeiling, numberTicks, timeTicks } from './chart.js';

const SVG = 'http://www.w3.org/2000/svg';
// The board's rings in millimetres and its numbers clockwise from the top, for the picture.
const RINGS = { bull: 6.35, outer: 15.9, trebleIn: 99, trebleOut: 107, doubleIn: 162, doubleOut: 170 };
const ORDER = [20, 1, 18, 4, 13, 6, 10, 15, 2, 17, 3, 19, 7, 16, 8, 11, 14, 9, 12, 5];
const TREBLE_AIM = 103;
const SEGMENT = (2 * Math.PI) / ORDER.length;
const DAY = 86_400_000;

const mm = (value) => value.toFixed(1).replace('.', ',');
const points = (value) => value.toFixed(2).replace('.', ',');

function node(name, attributes = {}, text) {
  const made = document.createElementNS(SVG, name);
  for (const [key, value] of Object.entries(attributes)) made.setAttribute(key, String(value));
  if (text !== undefined) made.textContent = text;
  return made;
}

// The point of a bed's aim (a treble "T19" or the centre "BULL"), y down.
function aimPoint(bed) {
  const match = /^[SDT](\d+)$/.exec(bed ?? '');
  if (!match) return [0, 0];
  const angle = ORDER.indexOf(Number(match[1])) * SEGMENT;
  return [TREBLE_AIM * Math.sin(angle), -TREBLE_AIM * Math.cos(angle)];
}

// The wedge of one segment between two radii.
function wedge(index, inner, outer, fill) {
  const from = index * SEGMENT - SEGMENT / 2;
  const to = from + SEGMENT;
  const at = (radius, angle) => `${(radius * Math.sin(angle)).toFixed(2)} ${(-radius * Math.cos(angle)).toFixed(2)}`;
  return node('path', {
    d: `M ${at(inner, from)} L ${at(outer, from)} A ${outer} ${outer} 0 0 1 ${at(outer, to)} ` +
      `L ${at(inner, to)} A ${inner} ${inner} 0 0 0 ${at(inner, from)} Z`,
    class: fill,
  });
}

function boardPicture(accuracy) {
  const { sigma_mm: sigma, best_aim: best } = accuracy;
  const svg = node('svg', { viewBox: '-200 -200 400 400', role: 'img', class: 'accuracy-board' });
  const [bestX, bestY] = aimPoint(best);
  svg.append(node('title', {}, 'Spridningen runt trippel 20'),
    node('desc', {}, spreadText(accuracy)));
  ORDER.forEach((number, index) => {
    const dark = index % 2 === 0;
    svg.append(wedge(index, RINGS.outer, RINGS.doubleOut, dark ? 'bed-dark' : 'bed-light'),
      wedge(index, RINGS.trebleIn, RINGS.trebleOut, dark ? 'bed-red' : 'bed-green'),
      wedge(index, RINGS.doubleIn, RINGS.doubleOut, dark ? 'bed-red' : 'bed-green'));
    const angle = index * SEGMENT;
    svg.append(node('text', {
      x: (186 * Math.sin(angle)).toFixed(1), y: (-186 * Math.cos(angle) + 5).toFixed(1),
      class: 'bed-number', 'text-anchor': 'middle',
    }, String(number)));
  });
  svg.append(node('circle', { r: RINGS.outer, class: 'bed-green' }),
    node('circle', { r: RINGS.bull, class: 'bed-red' }));
  for (const [times, name] of [[2, 'spread-two'], [1, 'spread-one']]) {
    svg.append(node('circle', { cx: 0, cy: -TREBLE_AIM, r: times * sigma, class: name }));
  }
  svg.append(node('circle', { cx: 0, cy: -TREBLE_AIM, r: 3, class: 'aim-t20' }));
  if (best && best !== 'T20') {
    svg.append(node('circle', { cx: bestX.toFixed(1), cy: bestY.toFixed(1), r: 5, class: 'aim-best' }));
  }
  return svg;
}

// The picture said in words.
function spreadText(accuracy) {
  const { sigma_mm: sigma, low_mm: low, high_mm: high, darts } = accuracy;
  const best = accuracy.best_aim === 'BULL' ? 'mitten (bullseye)' : accuracy.best_aim;
  const aim = accuracy.best_aim === 'T20'
    ? `Bäst att sikta på T20: ${points(accuracy.points_per_dart)} poäng per pil.`
    : `Bäst att sikta på ${best}: ${points(accuracy.points_per_dart)} poäng per pil, mot ` +
      `${points(accuracy.points_per_dart_t20)} på T20.`;
  return `Sigma ${mm(sigma)} mm (95 % säkert mellan ${mm(low)} och ${mm(high)} mm), från ${darts} ` +
    `pilar. Av pilarna mot T20 landar 39 % inom ${mm(sigma)} mm från siktpunkten och 86 % inom ` +
    `${mm(2 * sigma)} mm (ringarna). ${aim}`;
}

function historyChart(history) {
  const known = history.filter((month) => month.sigma_mm != null)
    .map((month) => [Date.parse(`${month.month}-15T12:00:00Z`), month.sigma_mm, month]);
  if (!known.length) return null;
  const times = known.map(([time]) => time);
  const span = Math.max(times[times.length - 1] - times[0], 60 * DAY);
  const x = { min: times[0] - span * 0.06, max: times[times.length - 1] + span * 0.06 };
  const top = niceCeiling(Math.max(...known.map(([, sigma, month]) => month.high_mm ?? sigma)));
  const description = 'Sigma per månad: ' + known
    .map(([, sigma, month]) => `${month.month} ${mm(sigma)} mm (${month.darts} pilar)`).join(', ') + '.';
  return (size) => lineChart({
    title: 'Sigma per månad',
    description,
    x: { ...x, title: 'Månad', ticks: (count) => timeTicks(x.min, x.max, count) },
    y: { min: 0, max: top, title: 'Sigma (mm)', ticks: (count) => numberTicks(0, top, count) },
    series: [{ name: 'Sigma', points: known.map(([time, sigma]) => [time, sigma]) }],
  }, size);
}

// Returns the section of a player's accuracy: `accuracy` and `history` as
// GET /api/players/NAME gives them.
export function accuracySection(accuracy, history) {
  const section = element('section', 'career-accuracy');
  section.append(element('h2', '', 'Träffsäkerhet'));
  if (!accuracy) {
    section.append(element('p', 'none-yet', 'För få pilar ännu.'));
    return section;
  }
  const picture = element('figure', 'accuracy-picture');
  picture.append(boardPicture(accuracy), element('figcaption', '', spreadText(accuracy)));
  section.append(picture);
  const chart = historyChart(history ?? []);
  if (chart) {
    const figure = element('figure', 'career-chart');
    const holder = element('div', 'chart-holder');
    drawWhenSized(holder, chart);
    figure.append(holder, element('figcaption', '',
      'Sigma varje månad med minst 60 pilar; lägre är träffsäkrare.'));
    section.append(figure);
  }
  return section;
}
