// The matches played here, newest first, a page at a time; those of a day
// or a player when the address asks (?day=YYYY-MM-DD&player=NAME), and the
// day's darts as one CSV file.

import { byId, element } from './dom.js';
import {
  dataTable, dateTime, getJson, link, matchHref, matchResult, playerLinks, scrolling,
} from './figures.js';

// Today in this browser's time, as a date field writes it.
function today() {
  const now = new Date();
  const two = (number) => String(number).padStart(2, '0');
  return `${now.getFullYear()}-${two(now.getMonth() + 1)}-${two(now.getDate())}`;
}

// Returns the address of the list with `changes` to the query of this one.
function listHref(changes) {
  const query = new URLSearchParams(location.search);
  for (const [key, value] of Object.entries(changes)) {
    if (value) query.set(key, value);
    else query.delete(key);
  }
  const text = query.toString();
  return text ? `/matches?${text}` : '/matches';
}

async function load() {
  const main = byId('main');
  const asked = new URLSearchParams(location.search);
  const number = Number(asked.get('page'));
  const page = Number.isInteger(number) && number >= 1 ? number : 1;
  const day = asked.get('day') ?? '';
  const player = asked.get('player') ?? '';
  byId('day').value = day;
  byId('player').value = player;
  const csvDay = day || today();
  byId('csv').href = `/api/matches.csv?from=${csvDay}&to=${csvDay}`;
  byId('csv').textContent = `Pilarna ${csvDay} (CSV)`;
  const query = new URLSearchParams({ page: String(page) });
  if (day) {
    query.set('from', day);
    query.set('to', day);
  }
  if (player) query.set('player', player);
  try {
    const { status, body } = await getJson(`/api/matches?${query}`);
    if (status !== 200 || !body) throw new Error(String(status));
    const rows = body.matches.map((match) => [
      link(matchHref(match.id), dateTime(match.date)),
      playerLinks(match.players),
      (match.legs_won ?? []).join('–'),
      `Tavla ${match.board}`,
      matchResult(match),
    ]);
    const table = dataTable('', ['Datum', 'Spelare', 'Legs', 'Tavla', 'Resultat'], rows,
      'data-table match-list');
    const pager = element('nav', 'pager');
    pager.setAttribute('aria-label', 'Sidor');
    if (page > 1) pager.append(link(listHref({ page: String(page - 1) }), 'Nyare'));
    if (body.pages > 1) pager.append(element('span', '', `Sida ${page} av ${body.pages}`));
    if (page < body.pages) pager.append(link(listHref({ page: String(page + 1) }), 'Äldre'));
    const none = day || player ? 'Inga matcher.' : 'Inga matcher än.';
    main.append(rows.length ? scrolling(table) : element('p', 'none-yet', none), pager);
  } catch {
    const problem = byId('problem');
    problem.textContent = 'Kunde inte hämta matcherna. Ladda om sidan.';
    problem.hidden = false;
  }
}

// The form asks for the list again with its day and player, from the first page.
byId('filter').addEventListener('submit', (event) => {
  event.preventDefault();
  location.href = listHref({ page: '', day: byId('day').value, player: byId('player').value.trim() });
});

load();
