// Every player who has thrown a dart here, with their career figures.

import { byId, element } from './dom.js';
import { checkout, dataTable, decimal, getJson, link, playerHref, scrolling } from './figures.js';

async function load() {
  const main = byId('main');
  try {
    const { status, body } = await getJson('/api/players');
    if (status !== 200 || !body) throw new Error(String(status));
    const rows = body.players.map(({ name, matches, figures }) => [
      link(playerHref(name), name), String(matches), decimal(figures.three_dart_average),
      decimal(figures.first_nine_average), checkout(figures), String(figures.visits_180),
    ]);
    const table = dataTable('', ['Spelare', 'Matcher', 'Snitt', 'Första nio', 'Utgångar', '180'],
      rows, 'data-table player-list');
    main.append(rows.length ? scrolling(table) : element('p', 'none-yet', 'Ingen har spelat än.'));
  } catch {
    const problem = byId('problem');
    problem.textContent = 'Kunde inte hämta spelarna. Ladda om sidan.';
    problem.hidden = false;
  }
}

load();
