// The list of boards, each a link to its viewing page.

import { byId, element } from './dom.js';
import { countsText, formatText, isMatch } from './match.js';

const statusText = { idle: 'Inget spel', playing: 'Pågår', finished: 'Avslutat' };

function entry(board) {
  const link = element('a', 'board-link');
  link.href = `/boards/${board.board}`;
  // A match of one leg is a single game: no legs to show.
  const match = isMatch(board) && board.status !== 'idle';
  const players = board.players
    .map(({ name, score, ...won }) =>
      match ? `${name} ${score} (${countsText(won, board)})` : `${name} ${score}`)
    .join(' · ');
  const status = statusText[board.status] ?? board.status;
  link.append(
    element('span', 'board-name', `Tavla ${board.board}`),
    element('span', 'board-status', match ? `${status} · ${formatText(board.format)}` : status),
    element('span', 'board-players', players),
  );
  const item = element('li');
  item.append(link);
  return item;
}

async function load() {
  try {
    const response = await fetch('/api/boards', { cache: 'no-store' });
    if (!response.ok) throw new Error(String(response.status));
    const { boards } = await response.json();
    byId('boards').replaceChildren(...boards.map(entry));
  } catch {
    const problem = byId('problem');
    problem.textContent = 'Kunde inte hämta tavlorna. Ladda om sidan.';
    problem.hidden = false;
  }
}

load();
