// Calls the game aloud in Swedish through the browser's speech synthesis:
// each visit's score when it ends, a bust, what the player to throw needs
// when a finish is on, and who won the leg, the set or the match. Off until
// switched on on the page; the choice is kept in this browser.

import { storedChoice, storeChoice } from './dom.js';
import { winnerOf } from './match.js';

const CALLER_KEY = 'game501.caller';
const ONES = [
  'noll', 'ett', 'två', 'tre', 'fyra', 'fem', 'sex', 'sju', 'åtta', 'nio', 'tio',
  'elva', 'tolv', 'tretton', 'fjorton', 'femton', 'sexton', 'sjutton', 'arton', 'nitton',
];
const TENS = ['', '', 'tjugo', 'trettio', 'fyrtio', 'femtio', 'sextio', 'sjuttio', 'åttio', 'nittio'];

// Returns a whole number from 0 to 199 in Swedish words, written together
// as Swedish writes them: 45 "fyrtiofem", 180 "hundraåttio". Other numbers
// are returned as digits.
export function swedishNumber(number) {
  if (!Number.isInteger(number) || number < 0 || number > 199) return String(number);
  if (number >= 100) return number === 100 ? 'hundra' : `hundra${swedishNumber(number - 100)}`;
  if (number < 20) return ONES[number];
  const ones = number % 10;
  return TENS[Math.floor(number / 10)] + (ones === 0 ? '' : ONES[ones]);
}

const capitalised = (text) => text.charAt(0).toUpperCase() + text.slice(1);

// Returns what is called for one `update` event; `before` is the state the
// board was in before it.
export function callerTexts(before, { operation, response, checkout, match }) {
  const game = response?.game;
  if (!response?.accepted || !game) return [];
  if (operation === 'dart') {
    const won = winnerOf(game, match);
    if (won) return [won.text];
    // Darts are refused while the board waits to be cleared, so an accepted
    // dart that leaves it waiting ended the visit.
    const visit = game.history[0];
    if (!game.awaiting_clear || !visit) return [];
    if (visit.outcome === 'bust') return ['Bust'];
    const points = visit.start_score - visit.end_score;
    // A ton or more is called out.
    return [capitalised(swedishNumber(points)) + (points >= 100 ? '!' : '')];
  }
  // The next player steps up once the board is clear.
  const finishOn = Array.isArray(checkout?.route) && checkout.route.length > 0;
  if (operation === 'clear' && before?.awaiting_clear && game.status === 'playing' && finishOn) {
    return [`Du behöver ${checkout.remaining}`];
  }
  return [];
}

function speak(text) {
  const utterance = new SpeechSynthesisUtterance(text);
  utterance.lang = 'sv-SE';
  const voice = speechSynthesis.getVoices().find((candidate) => /^sv\b/i.test(candidate.lang));
  if (voice) utterance.voice = voice;
  speechSynthesis.speak(utterance);
}

// Wires the switch and returns observe(kind, data), to be given every event
// of the board's stream. A fresh connection's `state` is never called: it
// only tells what the board is now.
export function startCaller(button) {
  const supported = 'speechSynthesis' in window && typeof SpeechSynthesisUtterance === 'function';
  let on = supported && storedChoice(CALLER_KEY) === 'on';
  let before = null;
  // Speaking waits for the page to draw, and a failing voice never stops it.
  const say = (texts) => {
    if (on && texts.length > 0) {
      setTimeout(() => {
        try {
          texts.forEach(speak);
        } catch {
          // The board is shown all the same.
        }
      });
    }
  };
  button.hidden = !supported;
  button.setAttribute('aria-pressed', String(on));
  button.addEventListener('click', () => {
    on = !on;
    button.setAttribute('aria-pressed', String(on));
    storeChoice(CALLER_KEY, on ? 'on' : 'off');
    // Some browsers speak only after a first utterance from a tap.
    say(['Uppläsning på']);
  });
  return (kind, data) => {
    if (kind === 'update') say(callerTexts(before, data));
    before = kind === 'state' ? data.state : (data.response?.game ?? before);
  };
}
