// What the pages say about a match: its format, the score in legs and sets
// and who won what, from the server's match document (without its leg's
// state document). A match of one leg is a single game and says none of it.

// Whether there is more to show than one game.
export function isMatch(match) {
  const format = match?.format;
  return Boolean(format) && (format.legs > 1 || format.sets > 1);
}

const inSets = (match) => match.format.sets > 1;

const legsText = (count) => (count === 1 ? '1 leg' : `${count} legs`);

// "Först till 3 legs", or "Först till 2 set, 3 legs per set".
export function formatText({ legs, sets }) {
  if (sets > 1) return `Först till ${sets} set, ${legsText(legs)} per set`;
  return `Först till ${legsText(legs)}`;
}

// "Leg 2", or "Set 2, leg 1": the leg being played (or just won).
export function legText(match) {
  if (!isMatch(match) || match.status === 'idle') return '';
  return inSets(match) ? `Set ${match.set}, leg ${match.leg}` : `Leg ${match.leg}`;
}

// A player's legs and sets won, within a line: "legs 1", "set 1, legs 0".
export function countsText(player, match) {
  return inSets(match) ? `set ${player.sets}, legs ${player.legs}` : `legs ${player.legs}`;
}

// The score in starting order: "2–1"; in sets "Set 1–0".
function scoreText(match, key) {
  const score = match.players.map((player) => player[key]).join('–');
  return key === 'sets' ? `Set ${score}` : inSets(match) ? `Legs ${score}` : score;
}

// Returns who won what once the leg's state document says it is finished:
// { text, score } with text as called ("Ymma vann leget!", "Ymma vann set
// 2!", "Ymma vann matchen!", "Ymma vann!" for a single game) and the score
// that goes with it; null while nobody has won.
export function winnerOf(state, match) {
  if (state?.status !== 'finished') return null;
  if (!isMatch(match)) {
    return { text: `${state.players[state.winner]?.name ?? ''} vann!`, score: '' };
  }
  if (match.status === 'finished') {
    const name = match.players[match.winner]?.name ?? '';
    const score = scoreText(match, inSets(match) ? 'sets' : 'legs');
    return { text: `${name} vann matchen!`, score };
  }
  const player = match.players[match.throwing_order[state.winner]];
  if (!player) return null;
  // The legs are those of the set the leg belongs to: a set just won has
  // all the legs it needs.
  if (inSets(match) && player.legs >= match.format.legs) {
    return { text: `${player.name} vann set ${match.set}!`, score: scoreText(match, 'sets') };
  }
  return { text: `${player.name} vann leget!`, score: scoreText(match, 'legs') };
}

// Whether the leg is won and the next one begins at the board clear.
export const betweenLegs = (state, match) =>
  state?.status === 'finished' && isMatch(match) && match.status === 'playing';

// A figure of the server's statistics as the scoreboard shows it: an average
// with two decimals and a decimal comma ("60,00"), a count as it is, and "–"
// while there is none (no dart thrown yet, or no figures known).
export function figureText(value, decimals = 0) {
  if (typeof value !== 'number' || !Number.isFinite(value)) return '–';
  return value.toFixed(decimals).replace('.', ',');
}

// The rules' "computer": { levels: [{ id, name }], min_average, max_average,
// name, targets: [{ average, name }] }, each level and target average with
// the name people read for it ("Klubbspelare", "Snitt 70").

// The start of a computer's level that throws like a member: "Som Anna".
const LIKE = 'Som ';

// Returns a computer's level as people read it, from the match document's
// `computer` (a level's id, a target average, or { like: NAME } for one
// that throws like a member): "Klubbspelare", "Snitt 70", "Som Anna"; null
// for a person.
export function computerLevelText(level, computer) {
  if (typeof level?.like === 'string') return LIKE + level.like;
  if (typeof level === 'number') {
    return computer?.targets?.find((entry) => entry.average === level)?.name ?? String(level);
  }
  if (typeof level !== 'string') return null;
  return computer?.levels?.find((entry) => entry.id === level)?.name ?? level;
}

// Reads a level as computerLevelText writes it, in any letter case, back
// into what a start takes: the level's id, the target as a number, or
// { like: NAME }; null for any other text, a target out of range included.
export function computerLevelOf(text, computer) {
  if (!computer) return null;
  const wanted = text.trim().toLowerCase();
  if (wanted.startsWith(LIKE.toLowerCase()) && wanted.length > LIKE.length) {
    return { like: text.trim().slice(LIKE.length).trim() };
  }
  const named = [
    ...computer.levels.map((entry) => [entry.id, entry.name]),
    ...(computer.targets ?? []).map((entry) => [entry.average, entry.name]),
  ].find(([, name]) => name.toLowerCase() === wanted);
  return named ? named[0] : null;
}
