// The page of one board. Opened with "#token=..." it scores, and keeps
// scoring in this tab after a reload; without a token it only follows the
// board.

import { fetchMatch, fetchRules, follow, makeClient } from './api.js';
import { startCaller } from './caller.js';
import { byId, storedChoice, storeChoice, takeToken } from './dom.js';
import { render } from './view.js';
import { wireNewGame } from './new_game.js';
import { wirePad } from './pad.js';

const LEVEL_KEY = 'game501.level';
const rules = await fetchRules();

const board = Number(location.pathname.split('/').pop());

const token = takeToken(`game501.token.${board}`);

let latest = null;
let connected = false;
let level = storedChoice(LEVEL_KEY);
// The newest event id this page has heard of, from events and answers.
let newest = -1;
// A problem in red is about the board as it was when it was shown (at
// `problemAt`); once the board has moved on, it no longer holds.
let problemAt = null;

function problem(text) {
  byId('problem').textContent = text;
  byId('problem').hidden = text === '';
  problemAt = text === '' ? null : newest;
}

function draw() {
  if (latest) {
    render(latest.state, {
      ...latest.extra,
      id: latest.id,
      level,
      dartsPerTurn: rules.darts_per_turn,
      computer: rules.computer,
    });
  }
}

// `fresh`: the first document of a new connection, perhaps to a restarted
// server counting from 0.
function show(id, state, extra, { fromAnswer = false, fresh = false } = {}) {
  if (problemAt !== null && (fresh ? id !== problemAt : id > problemAt)) problem('');
  newest = fresh ? id : Math.max(newest, id);
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
  },
});

byId('level').addEventListener('change', (event) => {
  level = event.target.value;
  storeChoice(LEVEL_KEY, level);
  draw();
});

byId('title').textContent = `Tavla ${board}`;
document.title = token ? `Tavla ${board} – poängräkning` : `Tavla ${board}`;
byId('viewing-note').hidden = Boolean(token);

if (token) {
  const retrying = 'Inget svar än; försöker igen …';
  const client = makeClient(board, token, { onRetry: () => problem(retrying) });
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
    const answered = { message: response.message, accepted: response.accepted };
    if (current && current.id >= id) {
      const { game, ...match } = current.match;
      const extra = current.id === id ? answered : {};
      show(current.id, game, { ...extra, checkout: null, match }, { fromAnswer: true });
    } else {
      show(id, response.game, { ...answered, checkout: null, match: null }, { fromAnswer: true });
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
  // Resolves to whether the engine took the dart.
  const dart = (notation, source) => {
    problem('');
    return client.dart(notation, source).then(
      (answer) => {
        showAnswer(answer);
        return answer.response.accepted;
      },
      (error) => {
        problem(`${notation} registrerades inte. ${error.message}`);
        return false;
      },
    );
  };
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
}
