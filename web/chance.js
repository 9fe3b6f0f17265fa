// Each player's chance to win, as the match document gives it
// ("win_chance", one entry per player in the starting order, null where it
// means nothing), drawn in boxes of a fixed size so that nothing moves as
// the chances change after each visit.

import { element } from './dom.js';
import { isMatch } from './match.js';

// "64 %"; "–" while there is none.
export function percentText(chance) {
  if (typeof chance !== 'number' || !Number.isFinite(chance)) return '–';
  return `${Math.round(chance * 100)} %`;
}

// Whether a board shows chances at all: a game of two players, from its
// start to after its end (then with "–"), so that its place stays.
export const showsChances = (state, match) =>
  state?.status !== 'idle' && Array.isArray(match?.players) && match.players.length === 2;

// Returns player `index`'s entry of the match's chances, or null.
export const chanceOf = (match, index) =>
  (Array.isArray(match?.win_chance) ? match.win_chance[index] : null) ?? null;

// The words under a chance: the leg's chance in a match of more than one
// leg, and "uppskattad" when the player's accuracy is a level's stand-in.
export function chanceNote(match, index) {
  const chance = chanceOf(match, index);
  return [isMatch(match) ? `leg ${percentText(chance?.leg)}` : '',
    chance?.estimated ? 'uppskattad' : ''].filter(Boolean).join(' · ');
}

// Returns a player's chances for the board's page: a bar of the chance to
// win the match, its number, and the note (chanceNote).
export function chanceElement(match, index) {
  const chance = chanceOf(match, index);
  const box = element('div', 'win-chance');
  const bar = element('span', 'chance-bar');
  const fill = element('span', 'chance-fill');
  fill.style.width = `${Math.round((chance?.match ?? 0) * 100)}%`;
  bar.append(fill);
  bar.setAttribute('aria-hidden', 'true');
  const what = isMatch(match) ? 'Vinstchans match' : 'Vinstchans';
  box.append(element('span', 'chance-label', what),
    element('span', 'chance-value', percentText(chance?.match)),
    element('span', 'chance-note', chanceNote(match, index)), bar);
  return box;
}
