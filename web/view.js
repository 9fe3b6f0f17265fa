// Draws a board from the engine's state document and the extra data that
// came with it. What is shown depends on the arguments alone, so the newest
// document can simply be drawn again whenever anything arrives.
//
// Names come from whoever started the game: they are only ever set as text.

import { chanceElement, showsChances } from './chance.js';
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

// Where a browser keeps the level of the advice last chosen.
export const LEVEL_KEY = 'game501.level';

// The advice of the chosen level, else the middle one.
export function chosenAdvice(advice, level) {
  return advice.find((entry) => entry.level === level) ?? advice[Math.floor(advice.length / 2)];
}

// The line of the route to finish for the player to throw: for their own
// sigma when they have one, "Utgång: T19 D12 (63 %, σ 12.3 mm)", else at the
// chosen level, "Utgång: T19 D12 (63 %)"; empty when there is none.
export function routeText(checkout, level) {
  if (!checkout) return '';
  const own = checkout.own;
  if (own && Array.isArray(own.route)) {
    if (own.route.length === 0) return '';
    const sigma = Number(own.sigma_mm).toFixed(1).replace('.', ',');
    return `Utgång: ${own.route.join(' ')} (${own.chance}, σ ${sigma} mm)`;
  }
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
  // A member with their own sigma needs no level.
  byId('level-choice').hidden = advice.length === 0 || Boolean(checkout?.own);
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

// Returns a name shortened as a scoreboard may show it when the whole does
// not fit: the last name whole, the others by their initials ("Bertil
// Långnamn-Svensson" as "B. Långnamn-Svensson"). A name of one word stays.
export function shortName(name) {
  const words = name.trim().split(/\s+/);
  if (words.length < 2) return name;
  const last = words.pop();
  return [...words.map((word) => `${[...word][0]}.`), last].join(' ');
}

// Returns the element of a player's name: the name, and a computer's level
// after it, on one line. fitNames shortens what does not fit.
export function nameElement(name, level) {
  const box = element('span', 'name');
  const text = element('span', 'name-text', name);
  text.dataset.full = name;
  box.title = level ? `${name} · ${level}` : name;
  box.append(text);
  if (level) box.append(element('span', 'computer-level', ` · ${level}`));
  return box;
}

// Shows each name below `root` whole when it fits on its line, else
// shortened (shortName); what still does not fit is cut at its end, so that
// the start of the last name always shows.
export function fitNames(root) {
  for (const text of root.querySelectorAll('.name-text')) {
    const box = text.parentElement;
    text.textContent = text.dataset.full;
    if (box.scrollWidth > box.clientWidth) text.textContent = shortName(text.dataset.full);
  }
}

// In a match the players keep their places from leg to leg, in the starting
// order, while the throw passes on; the leg's state document has them in the
// leg's throwing order. `computer` is the rules' (levels' names); `chances`
// whether each player's chance to win is shown.
function drawPlayers(state, match, computer, chances) {
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
      const seated = shown ? index : (match?.throwing_order?.[place] ?? place);
      const seat = known ? match.players[seated] : null;
      const item = element('li', 'player');
      const tag = player.winner ? 'Vinnare' : player.active ? 'Kastar' : '';
      if (player.active) {
        item.classList.add('active');
        item.setAttribute('aria-current', 'true');
      }
      if (player.winner) item.classList.add('winner');
      const name = nameElement(player.name, computerLevelText(seat?.computer, computer));
      item.append(element('span', 'tag', tag), name);
      if (shown) item.append(drawStanding(match, index));
      item.append(element('span', 'score', player.score), drawFigures(seat?.figures, shown));
      if (chances && known && showsChances(state, match)) {
        item.append(chanceElement(match, seated));
      }
      return item;
    }),
  );
  fitNames(list);
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

// A dart the server does not have yet, greyed.
function queuedSlot(notation) {
  const slot = element('li', 'dart-queued');
  slot.append(element('span', 'notation', notation), element('span', 'points', '…'));
  return slot;
}

// Returns the visit on show: { heading, darts }. While the board waits to
// be cleared the visit just thrown stays in view, and once a leg is won its
// winning visit; null while idle.
export function shownVisit(state) {
  if (state.status === 'idle') return null;
  const last = state.history[0];
  if (state.status === 'playing' && state.awaiting_clear && last) {
    return { heading: `Förra turen: ${last.player}`, darts: last.darts };
  }
  const player = state.players[state.status === 'finished' ? state.winner : state.active_player];
  const heading = `${state.status === 'finished' ? 'Vinnande tur' : 'Turen'}: ${player?.name ?? ''}`;
  return { heading, darts: state.current_turn.darts };
}

// `queued`: the notations of darts given but not yet taken by the server,
// which follow the board's; after a visit that waits for its clear they
// begin the next one. `fixing`: on a scoring page, the dart being corrected
// (null for none), and each dart of the visit can be picked to correct it.
function drawTurn(state, dartsPerTurn, queued, fixing) {
  const box = byId('turn');
  let visit = shownVisit(state);
  if (!visit) {
    box.replaceChildren();
    return;
  }
  const waiting = state.awaiting_clear || state.status === 'finished';
  if (queued.length > 0 && waiting) {
    const next = state.status === 'playing' ? state.players[state.active_player] : null;
    visit = { heading: next ? `Turen: ${next.name}` : 'Nästa leg', darts: [] };
  }
  let { darts } = visit;
  let waitingDarts = queued;
  // Queued darts past a whole visit begin the next one.
  while (darts.length + waitingDarts.length > dartsPerTurn) {
    waitingDarts = waitingDarts.slice(Math.max(0, dartsPerTurn - darts.length));
    darts = [];
  }
  const { heading } = visit;
  const slots = element('ol', 'darts');
  for (let i = 0; i < dartsPerTurn; i += 1) {
    if (i < darts.length) {
      const slot = dartSlot(darts[i]);
      if (fixing !== undefined && queued.length === 0) {
        slot.classList.add('fixable');
        slot.classList.toggle('fixing', fixing === i);
        slot.dataset.index = String(i);
        slot.tabIndex = 0;
        slot.setAttribute('role', 'button');
        slot.setAttribute('aria-pressed', String(fixing === i));
        slot.setAttribute('aria-label', `Rätta pil ${i + 1}: ${darts[i].notation}`);
      }
      slots.append(slot);
    } else if (i < darts.length + waitingDarts.length) {
      slots.append(queuedSlot(waitingDarts[i - darts.length]));
    } else {
      slots.append(dartSlot(null));
    }
  }
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
// computer, queued, fixing, chances }: id is the event's, match the match
// document without its leg's state (null when unknown: drawn as a single
// game), dartsPerTurn and computer the server's rules, queued and fixing
// drawTurn's (a scoring page's), chances whether to show each player's
// chance to win.
export function render(state, extra) {
  const { status } = state;
  const { match = null, queued = [] } = extra;
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
  // The report of the match being played follows it live.
  for (const link of document.querySelectorAll('.match-link')) {
    link.hidden = typeof match?.id !== 'string' || status === 'idle';
    if (!link.hidden) link.href = `/matches/${encodeURIComponent(match.id)}`;
  }
  // The clear is offered only when there is something to clear.
  byId('clear').disabled = !((status === 'playing' && state.awaiting_clear) ||
    betweenLegs(state, match));
  drawPlayers(state, match, extra.computer, extra.chances);
  drawTurn(state, extra.dartsPerTurn, queued, extra.fixing);
  const route = routeText(extra.checkout, extra.level);
  byId('route').hidden = route === '';
  byId('route').textContent = route;
  drawLevels(extra.checkout, extra.level);
  const message = byId('message');
  // Rewritten once per event (or when a correction's result replaces its
  // message), so screen readers hear each message once, even the same
  // refusal twice in a row.
  const said = `${extra.id}\u0000${extra.message ?? ''}`;
  if (message.dataset.event !== said) {
    message.dataset.event = said;
    message.textContent = extra.message ?? '';
  }
  message.classList.toggle('refused', extra.accepted === false);
  drawHistory(state);
}
