// Draws a board from the engine's state document and the extra data that
// came with it. What is shown depends on the arguments alone, so the newest
// document can simply be drawn again whenever anything arrives.
//
// Names come from whoever started the game: they are only ever set as text.

import { byId, element } from './dom.js';
import {
  betweenLegs,
  computerLevelText,
  figureText,
  formatText,
  isMatch,
  legText,
  winnerOf,
} from './match.js';

// The advice of the chosen level, else the middle one.
export function chosenAdvice(advice, level) {
  return advice.find((entry) => entry.level === level) ?? advice[Math.floor(advice.length / 2)];
}

function routeText(checkout, level) {
  if (!checkout) return '';
  if (Array.isArray(checkout.advice) && checkout.advice.length > 0) {
    const advice = chosenAdvice(checkout.advice, level);
    if (!Array.isArray(advice.route) || advice.route.length === 0) return '';
    // The server writes the chance as the terminal scorer does ("41 %", "< 1 %").
    const chance = typeof advice.chance === 'string' ? ` (${advice.chance})` : '';
    return `Utgång: ${advice.route.join(' ')}${chance}`;
  }
  return Array.isArray(checkout.route) && checkout.route.length > 0
    ? `Utgång: ${checkout.route.join(' ')}`
    : '';
}

function drawLevels(checkout, level) {
  const advice = Array.isArray(checkout?.advice) ? checkout.advice : [];
  const select = byId('level');
  byId('level-choice').hidden = advice.length === 0;
  const wanted = advice.map((entry) => `${entry.level}\u0000${entry.name}`).join('\u0001');
  // Rebuilt only when the levels change, so an open list stays open.
  if (select.dataset.levels !== wanted) {
    select.replaceChildren(
      ...advice.map((entry) => {
        const option = element('option', '', entry.name ?? entry.level);
        option.value = entry.level;
        return option;
      }),
    );
    select.dataset.levels = wanted;
  }
  if (advice.length > 0) select.value = chosenAdvice(advice, level).level;
}

// In a match the players keep their places from leg to leg, in the starting
// order, while the throw passes on; the leg's state document has them in the
// leg's throwing order. `computer` is the rules' (levels' names).
function drawPlayers(state, match, computer) {
  const list = byId('players');
  // The match document speaks of these players (in a single game too).
  const known =
    Array.isArray(match?.players) &&
    state.status !== 'idle' &&
    match.players.length === state.players.length;
  const shown = known && isMatch(match);
  const places = shown
    ? match.players.map((_, index) => match.throwing_order.indexOf(index))
    : state.players.map((_, place) => place);
  list.dataset.count = String(places.length);
  list.replaceChildren(
    ...places.map((place, index) => {
      const player = state.players[place];
      const seat = known
        ? match.players[shown ? index : (match.throwing_order?.[place] ?? place)]
        : null;
      const item = element('li', 'player');
      const tag = player.winner ? 'Vinnare' : player.active ? 'Kastar' : '';
      if (player.active) {
        item.classList.add('active');
        item.setAttribute('aria-current', 'true');
      }
      if (player.winner) item.classList.add('winner');
      const name = element('span', 'name', player.name);
      const level = computerLevelText(seat?.computer, computer);
      if (level) name.append(element('span', 'computer-level', ` · ${level}`));
      item.append(element('span', 'tag', tag), name);
      if (shown) item.append(drawStanding(match, index));
      item.append(element('span', 'score', player.score), drawFigures(seat?.figures, shown));
      return item;
    }),
  );
  // On a phone the players are one row that scrolls sideways: keep the
  // player to throw in view.
  const active = list.querySelector('.active');
  if (active && list.scrollWidth > list.clientWidth) {
    list.scrollLeft = active.offsetLeft - (list.clientWidth - active.offsetWidth) / 2;
  }
}

function figure(label, text, key) {
  const pair = element('div', 'figure');
  const value = element('dd', '', text);
  value.dataset.figure = key;
  pair.append(element('dt', '', label), value);
  return pair;
}

// The three-dart average and darts thrown this leg, and in a match its
// average so far; in place with "–" while the figures are not known, so
// that nothing below moves when they come.
function drawFigures(figures, inMatch) {
  const box = element('div', 'figures');
  const leg = element('dl', 'leg-figures');
  leg.append(
    figure('Snitt', figureText(figures?.leg?.three_dart_average, 2), 'leg-average'),
    figure('Pilar', figureText(figures?.leg?.darts), 'leg-darts'),
  );
  box.append(leg);
  if (inMatch) {
    const whole = element('dl', 'match-figures');
    const average = figureText(figures?.match?.three_dart_average, 2);
    whole.append(figure('Match', average, 'match-average'));
    box.append(whole);
  }
  return box;
}

// The legs (and sets) a player has won, and whether the player started the leg.
function drawStanding(match, index) {
  const player = match.players[index];
  const counts = element('span', 'counts');
  if (match.format.sets > 1) counts.append(element('span', '', `Set ${player.sets}`));
  counts.append(element('span', '', `Legs ${player.legs}`));
  const standing = element('span', 'standing');
  standing.append(counts);
  if (index === match.starter) standing.append(element('span', 'starter-mark', 'Började'));
  return standing;
}

function dartSlot(dart) {
  const slot = element('li', dart ? 'dart' : 'dart empty');
  if (!dart) {
    slot.append(element('span', 'notation', '–'));
    return slot;
  }
  slot.append(element('span', 'notation', dart.notation), element('span', 'points', dart.value));
  if (dart.bust) {
    slot.classList.add('bust');
    slot.append(element('span', 'points', 'Bust'));
  }
  return slot;
}

// While the board waits to be cleared the turn just thrown stays in view.
function drawTurn(state, dartsPerTurn) {
  const box = byId('turn');
  const playing = state.status === 'playing';
  const last = state.history[0];
  let heading;
  let darts;
  if (playing && state.awaiting_clear && last) {
    heading = `Förra turen: ${last.player}`;
    darts = last.darts;
  } else if (state.status === 'idle') {
    box.replaceChildren();
    return;
  } else {
    const player = state.players[state.status === 'finished' ? state.winner : state.active_player];
    heading = `${state.status === 'finished' ? 'Vinnande tur' : 'Turen'}: ${player?.name ?? ''}`;
    darts = state.current_turn.darts;
  }
  const slots = element('ol', 'darts');
  for (let i = 0; i < dartsPerTurn; i += 1) slots.append(dartSlot(darts[i]));
  // A bust scores nothing, whatever its darts were worth.
  const bust = darts.some((dart) => dart.bust);
  const total = darts.reduce((sum, dart) => sum + dart.value, 0);
  box.replaceChildren(
    element('h2', 'turn-heading', heading),
    slots,
    element('p', bust ? 'total bust' : 'total', bust ? 'Summa 0 (bust)' : `Summa ${total}`),
  );
}

const outcomeText = { scored: '', bust: 'Bust', checkout: 'Utgång' };

function drawHistory(state) {
  const table = byId('history');
  const turns = state.history.slice(0, 5);
  table.hidden = turns.length === 0;
  table.tBodies[0].replaceChildren(
    ...turns.map((turn) => {
      const row = element('tr', `turn-${turn.outcome}`);
      const points = turn.start_score - turn.end_score;
      const outcome = outcomeText[turn.outcome] ?? turn.outcome;
      row.append(
        element('td', '', turn.round),
        element('td', '', turn.player),
        element('td', '', turn.darts.map((dart) => dart.notation).join(' ')),
        element('td', 'outcome', turn.outcome === 'bust' ? outcome : `${points} ${outcome}`.trim()),
        element('td', '', turn.end_score),
      );
      return row;
    }),
  );
}

// extra: { id, checkout, match, message, accepted, level, dartsPerTurn,
// computer }: id is the event's, match the match document without its leg's
// state (null when unknown: drawn as a single game), dartsPerTurn and
// computer the server's rules.
export function render(state, extra) {
  const { status } = state;
  const { match = null } = extra;
  const round = status === 'idle' ? '' : `Runda ${state.round}`;
  byId('round').textContent = [legText(match), round].filter(Boolean).join(' · ');
  byId('format').textContent = isMatch(match) && status !== 'idle' ? formatText(match.format) : '';
  byId('idle').hidden = status !== 'idle';
  byId('clear-banner').hidden = !(status === 'playing' && state.awaiting_clear);
  const won = winnerOf(state, match);
  byId('winner-banner').hidden = !won;
  byId('winner-banner').classList.toggle('in-match', isMatch(match));
  byId('winner-text').textContent = won?.text ?? '';
  byId('winner-score').textContent = won?.score ?? '';
  byId('banner-next').hidden = !betweenLegs(state, match);
  // The report of a match that has ended; a single game has one too.
  const report = byId('report-link');
  const reported = won && match?.status === 'finished' && typeof match.id === 'string';
  report.hidden = !reported;
  if (reported) report.href = `/matches/${encodeURIComponent(match.id)}`;
  else report.removeAttribute('href');
  drawPlayers(state, match, extra.computer);
  drawTurn(state, extra.dartsPerTurn);
  const route = routeText(extra.checkout, extra.level);
  byId('route').hidden = route === '';
  byId('route').textContent = route;
  drawLevels(extra.checkout, extra.level);
  const message = byId('message');
  // Rewritten once per event, so screen readers hear each message once,
  // even the same refusal twice in a row.
  if (message.dataset.event !== String(extra.id)) {
    message.dataset.event = String(extra.id);
    message.textContent = extra.message ?? '';
  }
  message.classList.toggle('refused', extra.accepted === false);
  drawHistory(state);
}
