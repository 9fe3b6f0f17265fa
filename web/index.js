// The list of boards, each a link to its viewing page.

const statusText = { idle: 'Inget spel', playing: 'Pågår', finished: 'Avslutat' };

function element(tag, className, text) {
  const node = document.createElement(tag);
  if (className) node.className = className;
  if (text !== undefined) node.textContent = String(text);
  return node;
}

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
    document.getElementById('boards').replaceChildren(...boards.map(entry));
  } catch {
    const problem = document.getElementById('problem');
    problem.textContent = 'Kunde inte hämta tavlorna. Ladda om sidan.';
    problem.hidden = false;
  }
}

load();
