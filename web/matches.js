// The matches played here, newest first, a page at a time.

import { byId, element } from './dom.js';
import {
  dataTable, dateTime, getJson, link, matchHref, matchResult, playerLinks, scrolling,
} from './figures.js';

async function load() {
  const main = byId('main');
  const asked = Number(new URLSearchParams(location.search).get('page'));
  const page = Number.isInteger(asked) && asked >= 1 ? asked : 1;
  try {
    const { status, body } = await getJson(`/api/matches?page=${page}`);
    if (status !== 200 || !body) throw new Error(String(status));
    const rows = body.matches.map((match) => [
      link(matchHref(match.id), dateTime(match.date)),
      playerLinks(match.players),
      `Tavla ${match.board}`,
      matchResult(match),
    ]);
    const table = dataTable('', ['Datum', 'Spelare', 'Tavla', 'Resultat'], rows,
      'data-table match-list');
    const pager = element('nav', 'pager');
    pager.setAttribute('aria-label', 'Sidor');
    if (page > 1) pager.append(link(`/matches?page=${page - 1}`, 'Nyare'));
    if (body.pages > 1) pager.append(element('span', '', `Sida ${page} av ${body.pages}`));
    if (page < body.pages) pager.append(link(`/matches?page=${page + 1}`, 'Äldre'));
    main.append(rows.length ? scrolling(table) : element('p', 'none-yet', 'Inga matcher än.'),
      pager);
  } catch {
    const problem = byId('problem');
    problem.textContent = 'Kunde inte hämta matcherna. Ladda om sidan.';
    problem.hidden = false;
  }
}

load();
