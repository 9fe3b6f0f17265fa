// The new-game form: one player per line, names suggested from the club's
// players (its register), a new name marked "ny spelare" and a name too
// long for the server refused before it is sent, the computer added as a
// line of its own, who throws first, and the format, which this browser
// keeps.
//
// A line "NAME · LEVEL" seats the computer at that level, written as the
// scoreboard shows it ("Datorn · Klubbspelare", "Robban · Snitt 70"); any
// other line is a person's name.

import { byId, element, storedChoice, storeChoice } from './dom.js';
import { computerLevelOf, computerLevelText } from './match.js';
import { fetchPlayers } from './api.js';

const SEPARATOR = ' · ';
const CONFIRM_MS = 5000;
// The target averages offered in the list; any whole number in the rules'
// range may be written by hand.
const TARGET_STEP = 10;

// Returns the players of a start from the form's text: names, and
// { computer, name } for a computer's line (no name when the line gives none).
export function readPlayers(text, computer) {
  return text
    .split('\n')
    .map((line) => line.trim())
    .filter((line) => line !== '')
    .map((line) => {
      const at = line.lastIndexOf(SEPARATOR);
      const level = at < 0 ? null : computerLevelOf(line.slice(at + SEPARATOR.length), computer);
      if (level === null) return line;
      const name = line.slice(0, at).trim();
      return name === '' ? { computer: level } : { computer: level, name };
    });
}

// Offers the whole numbers from `min` to `max`, the first chosen.
function fillCounts(select, min, max) {
  for (let count = min; count <= max; count += 1) {
    const option = element('option', '', count);
    option.value = String(count);
    select.append(option);
  }
}

// The skill levels, target averages, then a computer like each member of
// `likes` (those with an estimate of their accuracy); the middle skill level
// chosen, or the one chosen before.
function fillLevels(select, computer, likes = []) {
  const chosen = select.selectedOptions[0]?.textContent;
  const levels = computer.levels.map(({ id }) => id);
  const { min_average: min, max_average: max } = computer;
  for (let average = min; average <= max; average += TARGET_STEP) levels.push(average);
  levels.push(...likes.map((name) => ({ like: name })));
  select.replaceChildren(
    ...levels.map((level) => {
      const option = element('option', '', computerLevelText(level, computer));
      option.value = typeof level === 'object' ? `like:${level.like}` : String(level);
      return option;
    }),
  );
  select.selectedIndex = Math.floor(computer.levels.length / 2);
  for (const option of select.options) {
    if (option.textContent === chosen) select.value = option.value;
  }
}

function appendLine(line) {
  const names = byId('names');
  const text = names.value.replace(/\s+$/, '');
  names.value = text === '' ? line : `${text}\n${line}`;
  names.dispatchEvent(new Event('input'));
}

// Offers the players of the form's lines as the one who throws first (the
// winner of the bull-off), keeping the one chosen while the lines change.
function fillFirst(computer) {
  const select = byId('first');
  const chosen = select.selectedOptions[0]?.textContent;
  const names = readPlayers(byId('names').value, computer)
    .map((player) => (typeof player === 'string' ? player : player.name ?? computer.name));
  select.replaceChildren(...names.map((name, index) => {
    const option = element('option', '', name);
    option.value = String(index);
    option.selected = name === chosen;
    return option;
  }));
  select.closest('label').hidden = names.length < 2;
}

// Keeps the format chosen in this browser, so that a reload starts the next
// match as the last one was meant to be.
function keepFormat(id) {
  const select = byId(id);
  const key = `game501.${id}`;
  const kept = storedChoice(key);
  if ([...select.options].some((option) => option.value === kept)) select.value = kept;
  select.addEventListener('change', () => storeChoice(key, select.value));
}

// The server's rule of one player (nameKey in the library): names equal
// once trimmed of ASCII white space, with ASCII letters in lower case only.
const trimmed = (name) => name.replace(/^[ \t\n\v\f\r]+|[ \t\n\v\f\r]+$/g, '');
const nameKey = (name) => trimmed(name).replace(/[A-Z]/g, (c) => c.toLowerCase());
const encoder = new TextEncoder();
// The bytes of a name as the server counts them, in UTF-8.
const bytesOf = (name) => encoder.encode(trimmed(name)).length;

// The keys of the club's players, as last fetched.
let members = new Set();

const NEW_PLAYER = 'ny spelare';

// What the form says of a person's name: too long, new, or nothing.
function nameNote(name, maxBytes) {
  const bytes = bytesOf(name);
  if (bytes > maxBytes) return `${bytes} byte, högst ${maxBytes}`;
  return members.has(nameKey(name)) ? '' : NEW_PLAYER;
}

// Marks the form's names as they are typed: each line's, and the name
// about to be added with its bytes.
function markNames(computer, maxBytes) {
  const notes = readPlayers(byId('names').value, computer)
    .filter((player) => typeof player === 'string')
    .map((name) => [name, nameNote(name, maxBytes)])
    .filter(([, note]) => note !== '')
    .map(([name, note]) => `${name}: ${note}`);
  byId('names-note').textContent = notes.join(' · ');
  const adding = byId('add-name').value.trim();
  const added = byId('add-name-note');
  const fresh = adding !== '' && nameNote(adding, maxBytes) === NEW_PLAYER;
  added.textContent = adding === ''
    ? '' : `${bytesOf(adding)}/${maxBytes} byte${fresh ? ` · ${NEW_PLAYER}` : ''}`;
  added.classList.toggle('too-long', bytesOf(adding) > maxBytes);
}

// Asks the server for the club's players, and offers a computer like each
// one with an estimate of their accuracy; the lists stay as they were when
// the server does not answer.
async function suggestNames(mark, computer) {
  const players = await fetchPlayers();
  if (players) {
    const names = players.map((player) => player.name);
    if (computer) {
      const likes = players.filter((player) => typeof player.sigma_mm === 'number');
      fillLevels(byId('computer-level'), computer, likes.map((player) => player.name));
    }
    members = new Set(names.map(nameKey));
    byId('known-names').replaceChildren(
      ...names.map((name) => {
        const option = document.createElement('option');
        option.value = name;
        return option;
      }),
    );
    mark();
  }
}

// actions: start(players, { legs, sets }), isPlaying(), problem(text);
// rules: the server's, from /api/rules.
export function wireNewGame(actions, rules) {
  byId('names-label').textContent =
    `Nytt spel: en spelare per rad (${rules.min_players}–${rules.max_players})`;
  fillCounts(byId('legs'), rules.min_legs, rules.max_legs);
  fillCounts(byId('sets'), rules.min_sets, rules.max_sets);
  keepFormat('legs');
  keepFormat('sets');

  const { computer } = rules;
  const maxBytes = rules.max_name_bytes;
  const mark = () => markNames(computer, maxBytes);
  const addName = byId('add-name');
  const add = () => {
    const name = addName.value.trim();
    if (name !== '') appendLine(name);
    addName.value = '';
    addName.focus();
    mark();
  };
  byId('names').addEventListener('input', mark);
  addName.addEventListener('input', mark);
  byId('add-player').addEventListener('click', add);
  // Enter adds the name; it does not start the game.
  addName.addEventListener('keydown', (event) => {
    if (event.key === 'Enter' && !event.isComposing) {
      event.preventDefault();
      add();
    }
  });
  // Asked again when a name is about to be typed: a match that has ended
  // since brings its players.
  addName.addEventListener('focus', () => suggestNames(mark, computer));

  byId('names').addEventListener('input', () => fillFirst(computer));
  fillFirst(computer);
  byId('computer-row').hidden = !computer;
  if (computer) {
    const level = byId('computer-level');
    fillLevels(level, computer);
    byId('add-computer').addEventListener('click', () => {
      appendLine(computer.name + SEPARATOR + level.selectedOptions[0].textContent);
    });
  }
  suggestNames(mark, computer);

  // A game in progress is only thrown away by a second press.
  const start = byId('start');
  const startLabel = start.textContent;
  let armedUntil = 0;
  byId('new-game').addEventListener('submit', (event) => {
    event.preventDefault();
    const players = readPlayers(byId('names').value, computer);
    if (players.length < rules.min_players || players.length > rules.max_players) {
      actions.problem(`Skriv ${rules.min_players} till ${rules.max_players} namn, ett per rad`);
      return;
    }
    const long = players.map((player) => (typeof player === 'string' ? player : player.name ?? ''))
      .find((name) => bytesOf(name) > maxBytes);
    if (long !== undefined) {
      actions.problem(`Ett namn får vara högst ${maxBytes} byte; ${long} är ${bytesOf(long)}`);
      return;
    }
    if (actions.isPlaying() && Date.now() > armedUntil) {
      armedUntil = Date.now() + CONFIRM_MS;
      start.textContent = 'Tryck igen: avsluta spelet som pågår';
      setTimeout(() => {
        start.textContent = startLabel;
      }, CONFIRM_MS);
      return;
    }
    armedUntil = 0;
    start.textContent = startLabel;
    // The first thrower leads, the others follow in the order of the lines.
    const chosen = Number(byId('first').value);
    const first = chosen > 0 && chosen < players.length ? chosen : 0;
    const order = [...players.slice(first), ...players.slice(0, first)];
    actions.start(order, { legs: Number(byId('legs').value), sets: Number(byId('sets').value) });
  });
}
