// The list of boards, each a link to its viewing page.

import { byId, element } from './dom.js';

const statusText = { idle: 'Inget spel', playing: 'Pågår', finished: 'Avslutat' };

function entry(board) {
  const link = element('a', 'board-link');
  link.href = `/boards/${board.board}`;
  const players = board.players.map((player) => `${player.name} ${player.score}`).join(' · ');
  link.append(
    element('span', 'board-name', `Tavla ${board.board}`),
    element('span', 'board-status', statusText[board.status] ?? board.status),
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
