// The organiser's page (/organiser#token=...): the club's players, to add,
// rename and merge, and the matches, to strike (make void) and count again.
// Each change is sent with the organiser's token and shown once the server
// has answered; then the lists are read again.

import { byId, element, takeToken } from './dom.js';
import {
  dataTable, dateTime, getJson, link, matchHref, matchResult, playerHref, playerLinks, scrolling,
} from './figures.js';
import { sendAsOrganiser } from './send.js';

const token = takeToken('game501.organiser');
// A merge cannot be undone: it takes a second press within this time.
const CONFIRM_MS = 5000;
let page = 1;

function problem(text) {
  byId('problem').textContent = text;
  byId('problem').hidden = text === '';
}

// Sends a change; returns the server's answer, or null after saying why not.
async function send(path, body) {
  const sent = await sendAsOrganiser(token, path, body);
  problem(sent.problem ?? '');
  return sent.answer ?? null;
}

async function change(path, body, done) {
  const answer = await send(path, body);
  if (answer) {
    byId('done').textContent = done(answer);
    await load();
  }
}

const playerPath = (name, action) => `/api/players/${encodeURIComponent(name)}/${action}`;

function renameCell(name) {
  const form = element('form', 'organiser-row');
  const input = element('input', 'rename-name');
  input.value = name;
  input.setAttribute('aria-label', `Nytt namn för ${name}`);
  input.autocomplete = 'off';
  input.spellcheck = false;
  form.append(input, element('button', 'rename', 'Byt namn'));
  form.addEventListener('submit', (event) => {
    event.preventDefault();
    change(playerPath(name, 'rename'), { name: input.value },
      (answer) => `${name} heter nu ${answer.name}`);
  });
  return form;
}

function mergeCell(name, names) {
  const form = element('form', 'organiser-row');
  const select = element('select', 'merge-into');
  select.setAttribute('aria-label', `Slå ihop ${name} med`);
  select.append(...names.filter((other) => other !== name).map((other) => {
    const option = element('option', '', other);
    option.value = other;
    return option;
  }));
  const button = element('button', 'merge', 'Slå ihop');
  button.disabled = select.options.length === 0;
  let armedUntil = 0;
  form.append(select, button);
  form.addEventListener('submit', (event) => {
    event.preventDefault();
    if (Date.now() > armedUntil) {
      armedUntil = Date.now() + CONFIRM_MS;
      button.textContent = `Tryck igen: ${name} blir ${select.value}`;
      setTimeout(() => {
        button.textContent = 'Slå ihop';
      }, CONFIRM_MS);
      return;
    }
    armedUntil = 0;
    change(playerPath(name, 'merge'), { into: select.value },
      (answer) => `${name} är nu en del av ${answer.name}`);
  });
  return form;
}

function voidCell(match) {
  const button = element('button', 'void-toggle', match.void ? 'Räkna igen' : 'Stryk');
  button.type = 'button';
  button.dataset.match = match.id;
  button.addEventListener('click', () => {
    change(`/api/matches/${encodeURIComponent(match.id)}/void`, { void: !match.void },
      (answer) => `Match ${answer.id} ${answer.void ? 'är struken' : 'räknas igen'}`);
  });
  return button;
}

function counting(match) {
  if (match.void) return 'Nej, struken';
  return match.counts ? 'Ja' : 'Nej';
}

async function loadPlayers() {
  const { status, body } = await getJson('/api/players');
  if (status !== 200 || !body) throw new Error(String(status));
  const names = body.players.map((player) => player.name);
  const rows = body.players.map(({ name, matches }) => [
    link(playerHref(name), name), String(matches), renameCell(name), mergeCell(name, names),
  ]);
  const table = dataTable('', ['Spelare', 'Matcher', 'Byt namn', 'Slå ihop med'], rows,
    'data-table organiser-players');
  byId('players').replaceChildren(
    rows.length ? scrolling(table) : element('p', 'none-yet', 'Klubben har inga spelare än.'));
}

async function loadMatches() {
  const { status, body } = await getJson(`/api/matches?page=${page}`);
  if (status !== 200 || !body) throw new Error(String(status));
  const rows = body.matches.map((match) => [
    link(matchHref(match.id), dateTime(match.date)), playerLinks(match.players),
    `Tavla ${match.board}`, matchResult(match), counting(match), voidCell(match),
  ]);
  const table = dataTable('', ['Datum', 'Spelare', 'Tavla', 'Resultat', 'Räknas', ''], rows,
    'data-table organiser-matches');
  byId('matches').replaceChildren(
    rows.length ? scrolling(table) : element('p', 'none-yet', 'Inga matcher än.'));
  const pager = byId('pager');
  pager.replaceChildren();
  const turn = (to, text) => {
    const button = element('button', '', text);
    button.type = 'button';
    button.addEventListener('click', () => {
      page = to;
      loadMatches();
    });
    pager.append(button);
  };
  if (page > 1) turn(page - 1, 'Nyare');
  if (body.pages > 1) pager.append(element('span', '', `Sida ${page} av ${body.pages}`));
  if (page < body.pages) turn(page + 1, 'Äldre');
}

async function load() {
  try {
    await Promise.all([loadPlayers(), loadMatches()]);
  } catch {
    problem('Kunde inte hämta spelarna och matcherna. Ladda om sidan.');
  }
}

byId('no-token').hidden = Boolean(token);
byId('add-player').addEventListener('submit', (event) => {
  event.preventDefault();
  const input = byId('new-name');
  change('/api/players', { name: input.value }, (answer) => {
    input.value = '';
    return `${answer.name} är med i klubben`;
  });
});
load();
