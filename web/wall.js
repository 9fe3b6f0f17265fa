// Every board of the server in one grid, for a screen on the wall: each
// board's players and scores, the visit being thrown, the route to finish
// and the format. The boards are read in one request a second: a browser
// keeps at most six connections to a server, so eight boards cannot each
// have a stream of their own.

import { chanceNote, chanceOf, percentText, showsChances } from './chance.js';
import { competitionLabel } from './competition_label.js';
import { byId, element, storedChoice } from './dom.js';
import { formatText, isMatch, legText, winnerOf } from './match.js';
import { LEVEL_KEY, fitNames, nameElement, routeText, shownVisit } from './view.js';

const READ_MS = 1000;

// The columns of the grid for `count` boards, so that the boards stay about
// as wide as they are high on a wide screen.
const columns = (count) => (count <= 1 ? 1 : count <= 4 ? 2 : Math.ceil(count / 2));

// A player's chance to win the match, then the leg's in a match of more
// than one leg and "uppskattad" where the player's accuracy is a level's
// stand-in (chanceNote): one line under the name, whose place stays while
// the game is on. `index` is the player's in the match.
function chanceLine(match, index) {
  const line = element('span', 'wall-chance');
  line.title = 'Chans att vinna';
  const note = chanceNote(match, index);
  line.append(element('span', 'wall-chance-value', percentText(chanceOf(match, index)?.match)),
    note ? ` · ${note}` : '');
  return line;
}

// `index`: the player's in the match; `chances`: whether the board shows them.
function playerRow(player, match, index, shown, chances) {
  const row = element('li', 'wall-player');
  if (player.active) row.classList.add('active');
  if (player.winner) row.classList.add('winner');
  const who = element('span', 'wall-who');
  who.append(nameElement(player.name));
  if (chances) who.append(chanceLine(match, index));
  row.append(who);
  row.append(element('span', 'wall-legs', shown ? String(match.players[index]?.legs ?? '') : ''));
  row.append(element('span', 'wall-score', player.score));
  return row;
}

// What stands under the scores: the darts of the visit, then the route, the
// board clear awaited, or who won.
function visitLine(state, match, checkout) {
  const line = element('div', 'wall-visit');
  const visit = shownVisit(state);
  const darts = element('span', 'wall-darts');
  darts.append(...Array.from({ length: 3 }, (_, index) =>
    element('span', visit?.darts[index] ? 'wall-dart' : 'wall-dart empty',
      visit?.darts[index]?.notation ?? '–')));
  const won = winnerOf(state, match);
  const route = routeText(checkout, storedChoice(LEVEL_KEY));
  let text = route;
  if (won) text = `${won.text} ${won.score}`.trim();
  else if (state.status === 'playing' && state.awaiting_clear) text = 'Ta bort pilarna';
  line.append(darts, element('span', won ? 'wall-note won' : 'wall-note', text));
  return line;
}

function boardCell({ board, state, match, checkout }) {
  const cell = element('section', 'wall-board');
  cell.setAttribute('aria-label', `Tavla ${board}`);
  const head = element('header', 'wall-head');
  const shown = isMatch(match) && state.status !== 'idle';
  const round = [legText(match), state.status === 'idle' ? '' : `Runda ${state.round}`]
    .filter(Boolean).join(' · ');
  head.append(element('h2', '', `Tavla ${board}`), element('p', 'wall-round', round),
    element('p', 'wall-format', shown ? formatText(match.format) : ''));
  const competition = shown ? competitionLabel(match.competition) : '';
  if (competition) head.append(element('p', 'wall-format wall-competition', competition));
  cell.append(head);
  if (state.status === 'idle') {
    cell.append(element('p', 'wall-idle', 'Inget spel pågår'));
    return cell;
  }
  // In a match the players keep their places, as on the board's own page.
  const order = shown
    ? match.players.map((_, index) => match.throwing_order.indexOf(index))
    : state.players.map((_, place) => place);
  const players = element('ol', 'wall-players');
  const chances = showsChances(state, match);
  players.append(...order.map((place) => playerRow(state.players[place], match,
    match?.throwing_order?.[place] ?? place, shown, chances)));
  cell.style.setProperty('--players', String(order.length));
  cell.append(players, visitLine(state, match, checkout));
  return cell;
}

async function read() {
  try {
    const response = await fetch('/api/boards/live', { cache: 'no-store' });
    if (!response.ok) throw new Error(String(response.status));
    const { boards } = await response.json();
    const grid = byId('boards');
    grid.style.setProperty('--columns', String(columns(boards.length)));
    grid.style.setProperty('--rows', String(Math.ceil(boards.length / columns(boards.length))));
    grid.replaceChildren(...boards.map(boardCell));
    fitNames(grid);
    byId('connection').hidden = true;
  } catch {
    byId('connection').hidden = false;
  }
  setTimeout(read, READ_MS);
}

read();
