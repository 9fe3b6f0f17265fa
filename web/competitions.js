// The competitions (/competitions): each with its format and state, and for
// the organiser (/competitions#token=...) a form that makes one: players
// from the register, the format, the boards of its pool and the legs.

import { byId, element, takeToken } from './dom.js';
import { dataTable, getJson, link, scrolling } from './figures.js';
import { sendAsOrganiser } from './send.js';

const token = takeToken('game501.organiser');

const FORMATS = {
  round_robin: 'Alla möter alla',
  groups_knockout: 'Grupper, sedan utslag',
  knockout: 'Utslag',
};

function problem(text) {
  byId('problem').textContent = text;
  byId('problem').hidden = text === '';
}

function choice(name, value, text) {
  const label = element('label', 'competition-choice');
  const input = element('input');
  input.type = 'checkbox';
  input.name = name;
  input.value = value;
  label.append(input, ` ${text}`);
  return label;
}

const checked = (name) => [...document.querySelectorAll(`input[name="${name}"]:checked`)]
  .map((input) => input.value);

async function load() {
  const { status, body } = await getJson('/api/competitions').catch(() => ({}));
  if (status !== 200) {
    problem('Kunde inte hämta tävlingarna. Ladda om sidan.');
    return;
  }
  const rows = body.competitions.slice().reverse().map((competition) => [
    link(`/competitions/${competition.id}`, competition.name),
    FORMATS[competition.format],
    competition.boards.map((board) => `Tavla ${board}`).join(', ') || '–',
    competition.status === 'finished' ? `Klar: ${competition.winner ?? '–'} vann` : 'Pågår',
  ]);
  byId('list').replaceChildren(rows.length
    ? scrolling(dataTable('', ['Tävling', 'Spelform', 'Tavlor', 'Läge'], rows))
    : element('p', 'hint', 'Inga tävlingar än.'));
}

async function showForm() {
  const [players, boards] = await Promise.all(['/api/players', '/api/boards']
    .map((path) => getJson(path).catch(() => ({}))));
  if (players.status !== 200 || boards.status !== 200) {
    problem('Kunde inte hämta spelarna och tavlorna. Ladda om sidan.');
    return;
  }
  byId('players').replaceChildren(...players.body.players
    .map((player) => choice('player', player.name, player.name)));
  byId('boards').replaceChildren(...boards.body.boards
    .map((board) => choice('board', board.board, `Tavla ${board.board}`)));
  byId('new').hidden = false;
  byId('create').addEventListener('submit', async (event) => {
    event.preventDefault();
    const format = byId('format').value;
    const body = {
      name: byId('name').value,
      players: checked('player'),
      format,
      legs: Number(byId('legs').value),
      boards: checked('board').map(Number),
    };
    if (format !== 'knockout') body.groups = Number(byId('groups').value);
    if (format === 'groups_knockout') body.advance = Number(byId('advance').value);
    const sent = await sendAsOrganiser(token, '/api/competitions', body);
    problem(sent.problem ?? '');
    if (sent.answer) location.assign(`/competitions/${sent.answer.id}`);
  });
}

load();
if (token) showForm();
