// One competition (/competitions/ID), for the wall screen and for phones:
// the calls ("Tavla 2: Ymma – Sjörk") with the live scores of the matches
// being played, the order of play, each group's table and the bracket. The
// competition comes from its event stream; the scores of its boards are
// read once a second while a match is being played.

import { roundText } from './competition_label.js';
import { byId, element } from './dom.js';
import { dataTable, decimal, scrolling, showMessage } from './figures.js';

const READ_MS = 1000;
const NEXT_SHOWN = 8;
const id = Number(location.pathname.split('/').pop());
let competition = null;
let boards = new Map(); // board number -> its entry of /api/boards

const pair = (players) => players.map((name) => name ?? '?').join(' – ');

function liveScore(match) {
  const board = boards.get(match.board);
  if (!board || board.players.length !== 2) return '';
  const [a, b] = board.players;
  const sets = match.format.sets > 1 ? `${a.sets}–${b.sets} i set · ` : '';
  return `${sets}${a.legs}–${b.legs} i legs · ${a.score} – ${b.score}`;
}

function calls() {
  const playing = competition.matches.filter((match) => match.status === 'playing');
  if (!playing.length) return [element('li', 'hint', 'Ingen match pågår.')];
  return playing.sort((a, b) => (a.board ?? 0) - (b.board ?? 0)).map((match) => {
    const item = element('li', 'competition-call');
    const where = match.board ? `Tavla ${match.board}: ` : '';
    item.append(element('span', 'competition-call-pair', `${where}${pair(match.players)}`),
      element('span', 'competition-call-score', liveScore(match)),
      element('span', 'competition-call-round', roundText(competition, match)));
    return item;
  });
}

function orderOfPlay() {
  const waiting = competition.order_of_play.slice(0, NEXT_SHOWN)
    .map((matchId) => competition.matches[matchId - 1]);
  if (!waiting.length) return [element('li', 'hint', 'Inga fler matcher.')];
  return waiting.map((match) => element('li', '',
    `${pair(match.players)} · ${roundText(competition, match)}`));
}

// The last match a board gave back to the queue, while it waits.
function returned() {
  const last = competition.returned.at(-1);
  const match = last && competition.matches[last.match - 1];
  if (!match || match.status !== 'waiting') return '';
  const where = last.board ? `Tavla ${last.board} nollställdes: ` : '';
  return `${where}${pair(match.players)} går tillbaka till kön`;
}

function table({ group, rows }) {
  const caption = competition.tables.length > 1 ? `Grupp ${group}` : '';
  const cells = rows.map((row, index) => [
    `${index + 1}${row.by_draw ? '*' : ''}`, row.player, row.played, row.won, row.lost,
    `${row.legs_for}–${row.legs_against}`, row.leg_difference, row.points, decimal(row.average),
  ]);
  return scrolling(dataTable(caption,
    ['#', 'Spelare', 'S', 'V', 'F', 'Legs', '+/−', 'P', 'Snitt'], cells, 'data-table'));
}

function result(match) {
  if (match.status === 'walkover') return 'w.o.';
  if (match.status !== 'finished') return match.status === 'playing' ? 'pågår' : '';
  return `${match.legs[0]}–${match.legs[1]}`;
}

function bracket() {
  return competition.bracket.map((round, index) => {
    const column = element('ol', 'competition-round');
    const first = round.find((pairing) => pairing.match);
    const heading = first ? roundText(competition, competition.matches[first.match - 1])
      : `Omgång ${index + 1}`;
    column.setAttribute('aria-label', heading);
    column.append(element('li', 'competition-round-name', heading));
    for (const pairing of round) {
      const match = pairing.match ? competition.matches[pairing.match - 1] : null;
      const item = element('li', 'competition-pairing');
      pairing.players.forEach((name, seat) => {
        const line = element('span', match?.winner === seat ? 'winner' : '',
          name ?? (match ? '?' : 'frilott'));
        item.append(line);
      });
      item.append(element('span', 'competition-result', match ? result(match) : 'frilott'));
      column.append(item);
    }
    return column;
  });
}

function render() {
  if (!competition) return;
  document.title = competition.name;
  byId('name').textContent = competition.name;
  byId('state').textContent = competition.status === 'finished'
    ? `Vinnare: ${competition.winner ?? '–'}` : 'Pågår';
  byId('returned').textContent = returned();
  byId('calls').replaceChildren(...calls());
  byId('next').replaceChildren(...orderOfPlay());
  byId('tables-section').hidden = !competition.tables.length;
  byId('tables').replaceChildren(...competition.tables.map(table));
  if (competition.tables.some((each) => each.rows.some((row) => row.by_draw))) {
    byId('tables').append(element('p', 'hint', '* Platsen avgjordes av lottningen.'));
  }
  byId('bracket-section').hidden = !competition.bracket.length;
  byId('bracket').replaceChildren(...bracket());
}

async function readBoards() {
  if (competition?.matches.some((match) => match.status === 'playing')) {
    try {
      const response = await fetch('/api/boards', { cache: 'no-store' });
      if (response.ok) {
        boards = new Map((await response.json()).boards.map((board) => [board.board, board]));
        render();
      }
    } catch {
      // Shown again at the next read.
    }
  }
  setTimeout(readBoards, READ_MS);
}

function follow() {
  const source = new EventSource(`/api/competitions/${id}/events`);
  source.addEventListener('open', () => { byId('connection').hidden = true; });
  source.addEventListener('error', async () => {
    byId('connection').hidden = false;
    if (source.readyState !== EventSource.CLOSED) return;
    const response = await fetch(`/api/competitions/${id}`, { cache: 'no-store' }).catch(() => null);
    if (response?.status === 404) {
      showMessage(byId('main'), 'Tävlingen finns inte', 'Det finns ingen tävling med den adressen.');
      return;
    }
    setTimeout(follow, 2000);
  });
  source.addEventListener('competition', (event) => {
    try {
      competition = JSON.parse(event.data);
    } catch {
      return;
    }
    render();
  });
}

follow();
readBoards();
