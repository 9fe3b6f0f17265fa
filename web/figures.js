// What the report pages share: the figures in Swedish, dates, links to
// matches and players, and reading the API.

import { element } from './dom.js';

// "45,67"; a dash when there is no figure (no darts yet).
export const decimal = (value) => (value == null ? '–' : value.toFixed(2).replace('.', ','));
const whole = (value) => (value == null ? '–' : String(value));
// "27,27 % (3/11)": the rate, then legs won / darts at a double.
export function checkout(figures) {
  const percent = figures.checkout_percent;
  return `${percent == null ? '–' : `${decimal(percent)}\u00a0%`} (${figures.checkout_text})`;
}

// The figures shown, in order, under the API's names.
export const FIGURES = [
  ['three_dart_average', 'Snitt', (f) => decimal(f.three_dart_average)],
  ['first_nine_average', 'Första nio', (f) => decimal(f.first_nine_average)],
  ['checkout_percent', 'Utgångar', checkout],
  ['visits_100', '100+', (f) => whole(f.visits_100)],
  ['visits_140', '140+', (f) => whole(f.visits_140)],
  ['visits_180', '180', (f) => whole(f.visits_180)],
  ['highest_finish', 'Högsta utgång', (f) => whole(f.highest_finish)],
  ['best_leg', 'Bästa leg (pilar)', (f) => whole(f.best_leg)],
  ['legs_won', 'Vunna leg', (f) => whole(f.legs_won)],
  ['legs_won_against_throw', 'Mot kast', (f) => whole(f.legs_won_against_throw)],
  ['darts', 'Pilar', (f) => whole(f.darts)],
];

export const RESULTS = {
  won: 'Vann', lost: 'Förlorade', abandoned: 'Avbruten', playing: 'Pågår',
};

const dateAndTime = new Intl.DateTimeFormat('sv-SE', { dateStyle: 'medium', timeStyle: 'short' });
export const dateTime = (iso) => dateAndTime.format(new Date(iso));

export const matchHref = (id) => `/matches/${encodeURIComponent(id)}`;
export const playerHref = (name) => `/players/${encodeURIComponent(name)}`;

export function link(href, text) {
  const anchor = element('a', '', text);
  anchor.href = href;
  return anchor;
}

// The players of a match, each a link to their career.
export function playerLinks(names) {
  const cell = element('span');
  names.forEach((name, index) => {
    if (index) cell.append(' – ');
    cell.append(link(playerHref(name), name));
  });
  return cell;
}

export const STATUS = { playing: 'Pågår', abandoned: 'Avbruten' };

// A match's result in a list, and "struken" for a match the organiser made
// void.
export function matchResult(match) {
  const result = match.status === 'finished'
    ? `${match.players[match.winner] ?? '–'} vann` : STATUS[match.status] ?? match.status;
  return match.void ? `${result} · struken` : result;
}

// Returns a table with a row per figure and a column per player (`columns`:
// [{ name, figures }]), in a box that scrolls when many players do not fit;
// each cell names its figure in data-key and its player in data-player, for
// whoever reads the page by program.
export function figuresTable(caption, columns) {
  const table = element('table', 'figure-table');
  table.createCaption().textContent = caption;
  const head = table.createTHead().insertRow();
  head.append(element('td'));
  for (const { name } of columns) {
    const th = element('th');
    th.scope = 'col';
    th.append(link(playerHref(name), name));
    head.append(th);
  }
  const body = table.createTBody();
  for (const [key, label, show] of FIGURES) {
    const row = body.insertRow();
    const th = element('th', '', label);
    th.scope = 'row';
    row.append(th);
    columns.forEach(({ figures }, index) => {
      const cell = element('td', '', show(figures));
      cell.dataset.key = key;
      cell.dataset.player = String(index);
      row.append(cell);
    });
  }
  return scrolling(table);
}

// A wide table scrolls in its own box, never the page; while more of it
// lies to the right, the box's edge fades out to say so.
export function scrolling(table) {
  const box = element('div', 'table-scroll');
  box.append(table);
  const mark = () => {
    box.classList.toggle('more', box.scrollWidth - box.clientWidth - box.scrollLeft > 1);
  };
  box.addEventListener('scroll', mark, { passive: true });
  new ResizeObserver(mark).observe(box);
  return box;
}

// Returns one player's figures as tiles, a label above each figure.
export function figureTiles(figures) {
  const tiles = element('dl', 'figure-tiles');
  for (const [key, label, show] of FIGURES) {
    const value = element('dd', '', show(figures));
    value.dataset.key = key;
    value.dataset.player = '0';
    const tile = element('div');
    tile.append(element('dt', '', label), value);
    tiles.append(tile);
  }
  return tiles;
}

// Returns a table with a header row of `headings` and `rows` of cells
// (text, or nodes such as links).
export function dataTable(caption, headings, rows, className = 'data-table') {
  const table = element('table', className);
  if (caption) table.createCaption().textContent = caption;
  const head = table.createTHead().insertRow();
  for (const heading of headings) {
    const th = element('th', '', heading);
    th.scope = 'col';
    head.append(th);
  }
  const body = table.createTBody();
  for (const cells of rows) {
    const row = body.insertRow();
    for (const cell of cells) {
      const td = element('td');
      td.append(cell ?? '–');
      row.append(td);
    }
  }
  return table;
}

// Returns the answer of the API at `path` as { status, body }; body is
// null unless it is JSON.
export async function getJson(path) {
  const response = await fetch(path, { cache: 'no-store' });
  const body = await response.json().catch(() => null);
  return { status: response.status, body };
}

// Replaces the page's content by a message, with a way back.
export function showMessage(main, heading, text) {
  document.title = heading;
  const back = element('nav', 'back-links');
  back.append(link('/matches', 'Till matcherna'), link('/players', 'Till spelarna'));
  main.replaceChildren(element('h1', '', heading), element('p', 'problem', text), back);
}
