// The page of one board. Opened with "#token=..." it scores, and keeps
// scoring in this tab after a reload; without a token it only follows the
// board, until the scoring address is pasted into its address bar.

import { fetchMatch, fetchRules, follow, makeClient } from './api.js';
import { startCaller } from './caller.js';
import { competitionLabel } from './competition_label.js';
import { byId, storedChoice, storeChoice, takeToken } from './dom.js';
import { betweenLegs } from './match.js';
import { LEVEL_KEY, fitNames, render, shownVisit } from './view.js';
import { wireNewGame } from './new_game.js';
import { wirePad } from './pad.js';

const AUTO_CLEAR_KEY = 'game501.auto-clear';
// Whether a scoring page shows the chances to win: off until switched on; a
// page that only follows the board always shows them.
const CHANCES_KEY = 'game501.win-chance';
const NOTE_CLOSED_KEY = 'game501.viewing-note-closed';
const NOTE_SHOWN_KEY = 'game501.viewing-note-shown';
// A correction's result is drawn once its last event has come, or after
// this long without it.
const HOLD_MS = 3000;
const rules = await fetchRules();

// "/boards/1", also when written "/boards/1/".
const board = Number(location.pathname.split('/').filter(Boolean).pop());

// The token goes off the address bar into this tab's sessionStorage
// (takeToken), so that a reload or a phone that drops the page keeps scoring.
const TOKEN_KEY = `game501.token.${board}`;

let latest = null;
let connected = false;
let level = storedChoice(LEVEL_KEY);
// The newest event id this page has heard of, from events and answers.
let newest = -1;
// A problem in red is about the board as it was when it was shown (at
// `problemAt`); once the board has moved on, it no longer holds.
let problemAt = null;
// A scoring page's: its client, the newest answer ({ id, game }), the darts
// given that the page has not drawn from the server yet ({ notation, id }:
// the id of the answer that took it, null before), the dart being corrected
// ({ index, darts, id }: its visit's darts and the event they were shown
// with), and while a correction is sent, `hold` ({ until }: the id of its
// last answer once it has one), then its result as `note` ({ id, text,
// accepted }).
let client = null;
let answered = null;
let queued = [];
let fixing = null;
let hold = null;
let note = null;

function problem(text) {
  byId('problem').textContent = text;
  byId('problem').hidden = text === '';
  problemAt = text === '' ? null : newest;
}

function draw() {
  if (!latest) return;
  if (hold) {
    if (hold.until === null || latest.id < hold.until) return;
    hold = null;
  }
  queued = queued.filter((dart) => dart.id === null || dart.id > latest.id);
  const noted = note?.id === latest.id;
  render(latest.state, {
    ...latest.extra,
    ...(noted ? { message: note.text, accepted: note.accepted } : {}),
    id: latest.id,
    level,
    dartsPerTurn: rules.darts_per_turn,
    computer: rules.computer,
    queued: queued.map((dart) => dart.notation),
    fixing: client ? (fixing?.index ?? null) : undefined,
    chances: !client || byId('win-chance-choice').checked,
  });
  byId('competition').textContent = competitionLabel(latest.extra?.match?.competition, draw);
  byId('fixing').hidden = !fixing;
  if (fixing) {
    const { index, darts } = fixing;
    byId('fixing').textContent = `Rätta pil ${index + 1} (${darts[index].notation}): tryck på rätt fält`;
  }
}

// `fresh`: the first document of a new connection, perhaps to a restarted
// server counting from 0.
function show(id, state, extra, { fromAnswer = false, fresh = false } = {}) {
  if (problemAt !== null && (fresh ? id !== problemAt : id > problemAt)) problem('');
  newest = fresh ? id : Math.max(newest, id);
  // A dart picked to correct belongs to the board as it was.
  if (fixing && id !== fixing.id) fixing = null;
  latest = { id, state, extra, fromAnswer };
  draw();
}

// The answer and the event carry the same document under the same id; the
// newest id wins, and the event beats its own answer because only the
// event has the route.
function isNewer(id) {
  return !latest || id > latest.id || (id === latest.id && latest.fromAnswer);
}

const call = startCaller(byId('caller'));
follow(board, {
  onEvent(kind, id, data) {
    if (kind === 'state') {
      show(id, data.state, { checkout: data.checkout, match: data.match, message: '' }, {
        fresh: true,
      });
    } else if (isNewer(id)) {
      const { response } = data;
      show(id, response.game, {
        checkout: data.checkout,
        match: data.match,
        message: response.message,
        accepted: response.accepted,
      });
    }
    call(kind, data);
  },
  onConnection(now) {
    connected = now;
    byId('connection').hidden = now;
    byId('offline').hidden = now;
  },
});

byId('level').addEventListener('change', (event) => {
  level = event.target.value;
  storeChoice(LEVEL_KEY, level);
  draw();
});
new ResizeObserver(() => fitNames(byId('players'))).observe(byId('players'));

byId('title').textContent = `Tavla ${board}`;
document.title = `Tavla ${board}`;

// The line that says where scoring is done comes once in a tab, and never
// again once closed.
function showNote() {
  let shown = null;
  try {
    shown = sessionStorage.getItem(NOTE_SHOWN_KEY);
    sessionStorage.setItem(NOTE_SHOWN_KEY, 'yes');
  } catch {
    // Shown with every page.
  }
  byId('viewing-note').hidden = Boolean(shown) || storedChoice(NOTE_CLOSED_KEY) === 'yes';
  byId('close-note').addEventListener('click', () => {
    byId('viewing-note').hidden = true;
    storeChoice(NOTE_CLOSED_KEY, 'yes');
  });
}

// Returns the leg's state document as the newest word from the server has
// it, an answer's or an event's.
function newestGame() {
  return answered && (!latest || answered.id > latest.id) ? answered.game : latest?.state;
}

function startScoring(token) {
  document.title = `Tavla ${board} – poängräkning`;
  byId('viewing-note').hidden = true;
  const retrying = 'Inget svar än; försöker igen …';
  client = makeClient(board, token, {
    onRetry: () => problem(retrying),
    onAnswer: ({ id, response }) => {
      if (Number.isFinite(id) && (!answered || id > answered.id)) {
        answered = { id, game: response.game };
      }
    },
  });
  // While the stream is connected every answer's document also arrives as
  // its event, with the route, and is drawn from there; answers are drawn
  // only while the stream is down. Errors, which make no event, are shown
  // from the answer always. An answer has no match document, so the board's
  // is asked for: drawing the leg's document with the legs won before it
  // could show a leg's winner with the old score.
  const showAnswer = async ({ id, response, retried }) => {
    if (retried && byId('problem').textContent === retrying) problem('');
    if (!Number.isFinite(id)) return;
    newest = Math.max(newest, id);
    if (connected) return;
    const current = await fetchMatch(board);
    if (connected || !isNewer(id)) return;
    const said = { message: response.message, accepted: response.accepted };
    if (current && current.id >= id) {
      const { game, ...match } = current.match;
      const extra = current.id === id ? said : {};
      show(current.id, game, { ...extra, checkout: null, match }, { fromAnswer: true });
    } else {
      show(id, response.game, { ...said, checkout: null, match: null }, { fromAnswer: true });
    }
  };
  const run = (what, afterwards = () => {}) => (...args) => {
    problem('');
    return what(...args).then(
      (answer) => {
        showAnswer(answer);
        if (answer.response.accepted) afterwards();
      },
      (error) => problem(error.message),
    );
  };

  // With the automatic clear, the first dart after a finished visit (or a
  // won leg of a match that goes on) brings the board clear with it.
  const autoClear = byId('auto-clear');
  autoClear.checked = storedChoice(AUTO_CLEAR_KEY) !== 'off';
  autoClear.addEventListener('change', () => {
    storeChoice(AUTO_CLEAR_KEY, autoClear.checked ? 'on' : 'off');
  });
  const chances = byId('win-chance-choice');
  chances.checked = storedChoice(CHANCES_KEY) === 'on';
  chances.addEventListener('change', () => {
    storeChoice(CHANCES_KEY, chances.checked ? 'on' : 'off');
    draw();
  });
  const wantsClear = () => {
    if (!autoClear.checked) return false;
    const game = newestGame();
    if (game?.status === 'playing') return game.awaiting_clear;
    // Only an event has the match document, which says whether it goes on.
    return game === latest?.state && betweenLegs(game, latest.extra.match);
  };

  const settle = (dart, id) => {
    dart.id = id;
    if (id === null) queued = queued.filter((other) => other !== dart);
    draw();
  };

  // Corrects the dart being fixed to `notation`: the darts from it on are
  // undone and thrown again, the later ones as they were, each step only on
  // the board as the step before left it. The page draws its result once.
  const correct = async (notation, source) => {
    const { index, darts, id } = fixing;
    fixing = null;
    problem('');
    hold = { until: null };
    const again = [{ notation, source }, ...darts.slice(index + 1)
      .map((dart) => ({ notation: dart.notation, source: dart.source }))];
    const steps = [...darts.slice(index).map(() => ({ action: 'undo' })),
      ...again.map((body) => ({ action: 'darts', body }))];
    let answers = [];
    try {
      answers = await client.steps(steps, id);
    } catch (error) {
      problem(error.message);
    }
    const last = answers[answers.length - 1];
    if (last && Number.isFinite(last.id)) {
      const refused = answers.find((answer) => !answer.response.accepted);
      note = {
        id: last.id,
        text: refused?.response.message ??
          `Pil ${index + 1} rättad: ${darts[index].notation} blev ${notation.toUpperCase()}`,
        accepted: !refused,
      };
      hold = { until: last.id };
      setTimeout(() => {
        if (hold?.until === last.id) {
          hold = null;
          draw();
        }
      }, HOLD_MS);
      showAnswer(last);
    } else {
      hold = null;
    }
    draw();
    return Boolean(last?.response.accepted);
  };

  // Resolves to whether the engine took the dart.
  const dart = (notation, source) => {
    if (fixing) return correct(notation, source);
    problem('');
    const entry = { notation, id: null };
    queued.push(entry);
    draw();
    return client.dart(notation, source, wantsClear).then(
      (answer) => {
        const taken = answer.response.accepted && Number.isFinite(answer.id);
        settle(entry, taken ? answer.id : null);
        showAnswer(answer);
        return answer.response.accepted;
      },
      (error) => {
        settle(entry, null);
        problem(`${notation} registrerades inte. ${error.message}`);
        return false;
      },
    );
  };

  // A dart of the visit on show is picked to be corrected, and picked again
  // to leave it as it is.
  const pick = (event) => {
    const slot = event.target.closest('[data-index]');
    if (!slot || !latest) return;
    const index = Number(slot.dataset.index);
    fixing = fixing?.index === index ? null : {
      index, darts: shownVisit(latest.state).darts, id: latest.id,
    };
    draw();
  };
  byId('turn').addEventListener('click', pick);
  byId('turn').addEventListener('keydown', (event) => {
    if (event.key === 'Enter' || event.key === ' ') {
      event.preventDefault();
      pick(event);
    }
  });
  document.addEventListener('keydown', (event) => {
    if (event.key === 'Escape' && fixing) {
      fixing = null;
      draw();
    }
  });

  // On a phone the bar has no room for the links: they follow the pad.
  const links = document.querySelector('.board-nav').cloneNode(true);
  links.classList.add('foot-nav');
  byId('pad').append(links);
  document.body.classList.add('scoring');
  byId('pad').hidden = false;
  byId('banner-clear').hidden = false;
  wirePad({ dart, undo: run(client.undo), clear: run(client.clear) }, rules);
  wireNewGame({
    // The form is below the pad on a phone; what comes next is the pad.
    start: run(client.start, () => window.scrollTo(0, 0)),
    // Between two legs the leg is over but the match is not.
    isPlaying: () =>
      latest?.state.status === 'playing' || latest?.extra.match?.status === 'playing',
    problem,
  }, rules);
  draw();
}

const token = takeToken(TOKEN_KEY);
if (token) {
  startScoring(token);
} else {
  showNote();
}
// The scoring address pasted into a viewing tab makes it the scorer.
window.addEventListener('hashchange', () => {
  if (!/^#token=/.test(location.hash)) return;
  const pasted = takeToken(TOKEN_KEY);
  if (!client) startScoring(pasted);
  else location.reload();
});
