// The page of one board. Opened with "#token=..." it scores; without, it
// only follows the board.

import { fetchRules, follow, makeClient } from './api.js';
import { byId } from './dom.js';
import { render } from './view.js';
import { wirePad } from './pad.js';

const LEVEL_KEY = 'game501.level';
const rules = await fetchRules();

const board = Number(location.pathname.split('/').pop());

// The token stays in this module alone: off the address bar, out of storage.
function takeToken() {
  const match = /^#token=(.+)$/.exec(location.hash);
  if (!match) return null;
  history.replaceState(null, '', location.pathname + location.search);
  try {
    return decodeURIComponent(match[1]);
  } catch {
    return match[1];
  }
}
const token = takeToken();

let latest = null;
let connected = false;
// Some locked-down browsers refuse storage; the level then lasts as long as
// the page.
function storedLevel() {
  try {
    return localStorage.getItem(LEVEL_KEY);
  } catch {
    return null;
  }
}

function storeLevel(value) {
  try {
    localStorage.setItem(LEVEL_KEY, value);
  } catch {
    // Kept in the page only.
  }
}

let level = storedLevel();

function draw() {
  if (latest) {
    render(latest.state, {
      ...latest.extra,
      id: latest.id,
      level,
      dartsPerTurn: rules.darts_per_turn,
    });
  }
}

function show(id, state, extra, fromAnswer = false) {
  latest = { id, state, extra, fromAnswer };
  draw();
}

// The answer and the event carry the same document under the same id; the
// newest id wins, and the event beats its own answer because only the
// event has the route.
function isNewer(id) {
  return !latest || id > latest.id || (id === latest.id && latest.fromAnswer);
}

follow(board, {
  onEvent(kind, id, data) {
    if (kind === 'state') {
      // A fresh connection, perhaps to a restarted server counting from 0.
      show(id, data.state, { checkout: data.checkout, message: '' });
    } else if (isNewer(id)) {
      const { response } = data;
      show(id, response.game, {
        checkout: data.checkout,
        message: response.message,
        accepted: response.accepted,
      });
    }
  },
  onConnection(now) {
    connected = now;
    byId('connection').hidden = now;
  },
});

byId('level').addEventListener('change', (event) => {
  level = event.target.value;
  storeLevel(level);
  draw();
});

byId('title').textContent = `Tavla ${board}`;
document.title = token ? `Tavla ${board} – poängräkning` : `Tavla ${board}`;

if (token) {
  const client = makeClient(board, token);
  const problem = (text) => {
    byId('problem').textContent = text;
    byId('problem').hidden = text === '';
  };
  // While the stream is connected every answer's document also arrives as
  // its event, with the route, and is drawn from there; answers are drawn
  // only while the stream is down. Errors, which make no event, are shown
  // from the answer always.
  const showAnswer = ({ id, response }) => {
    if (!connected && Number.isFinite(id) && isNewer(id)) {
      const extra = { checkout: null, message: response.message, accepted: response.accepted };
      show(id, response.game, extra, true);
    }
  };
  const run = (what) => (...args) => {
    problem('');
    return what(...args).then(showAnswer, (error) => problem(error.message));
  };
  const dart = (notation, source) => {
    problem('');
    return client
      .dart(notation, source)
      .then(showAnswer, (error) => problem(`${notation} registrerades inte. ${error.message}`));
  };
  document.body.classList.add('scoring');
  byId('pad').hidden = false;
  byId('banner-clear').hidden = false;
  wirePad({
    dart,
    undo: run(client.undo),
    clear: run(client.clear),
    start: run(client.start),
    isPlaying: () => latest?.state.status === 'playing',
    problem,
  }, rules);
}
