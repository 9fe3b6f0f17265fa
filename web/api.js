// Everything that goes over the network: one board's event stream and the
// calls that change the board.

export class ApiError extends Error {}

// Follows the events of a board. onEvent(kind, id, data) gets every `state`
// and `update` event; onConnection(connected) every change of connection.
export function follow(board, { onEvent, onConnection }) {
  let source;
  const open = () => {
    source?.close();
    const current = new EventSource(`/api/boards/${board}/events`);
    source = current;
    current.addEventListener('open', () => onConnection(true));
    current.addEventListener('error', () => {
      onConnection(false);
      // The browser retries by itself after a dropped connection, but gives
      // up after an answer that is not a stream (e.g. 503 when full).
      if (current.readyState === EventSource.CLOSED && current === source) {
        setTimeout(open, 2000);
      }
    });
    for (const kind of ['state', 'update']) {
      current.addEventListener(kind, (event) => {
        let data;
        try {
          data = JSON.parse(event.data);
        } catch {
          return;
        }
        onEvent(kind, Number(event.lastEventId), data);
      });
    }
  };
  open();
  // A tablet waking from sleep may hold a connection that died silently;
  // a fresh one starts with the board as it is now.
  document.addEventListener('visibilitychange', () => {
    if (document.visibilityState === 'visible') open();
  });
  window.addEventListener('online', open);
}

// Returns the rules of the game that the page needs (/api/rules), asking
// again every two seconds until the server answers.
export async function fetchRules() {
  for (;;) {
    try {
      const response = await fetch('/api/rules', { cache: 'no-store' });
      if (response.ok) return await response.json();
    } catch {
      // Asked again below.
    }
    await new Promise((resolve) => setTimeout(resolve, 2000));
  }
}

// Returns the board's match document and the id of the last event it
// includes, or null when the server does not answer with one.
export async function fetchMatch(board) {
  try {
    const response = await fetch(`/api/boards/${board}/match`, { cache: 'no-store' });
    const match = await response.json();
    const id = Number(response.headers.get('Event-Id'));
    return response.ok && match?.game && Number.isFinite(id) ? { id, match } : null;
  } catch {
    return null;
  }
}

// Returns the names of the players the server knows (/api/players), or null
// when it does not answer with them.
export async function fetchPlayers() {
  try {
    const response = await fetch('/api/players', { cache: 'no-store' });
    const answer = await response.json();
    if (!response.ok || !Array.isArray(answer?.players)) return null;
    return answer.players.filter((player) => typeof player?.name === 'string');
  } catch {
    return null;
  }
}

const NO_ANSWER = 'Inget svar från servern; kontrollera ställningen och försök igen';
// The waits before the retries of a command that got no answer; then it is
// given up.
const RETRY_DELAYS_MS = [500, 1000, 2000, 4000];
// A server that holds an answer this long is taken for one that will not
// answer; the retry asks again with the same key.
const ATTEMPT_TIMEOUT_MS = 5000;

function problemText(status, body) {
  if (status === 401 || status === 403) {
    return 'Fel eller saknad token: öppna poängräkningsadressen för den här tavlan igen';
  }
  if (status === 412) return 'Tavlan har ändrats under tiden; se ställningen och försök igen';
  const message = body?.error?.message;
  return typeof message === 'string' ? message : `Servern svarade med status ${status}`;
}

// 128 random bits in hex. Not crypto.randomUUID: a club network on plain
// HTTP is no secure context, and there it is missing.
function freshKey() {
  const bytes = crypto.getRandomValues(new Uint8Array(16));
  return Array.from(bytes, (byte) => byte.toString(16).padStart(2, '0')).join('');
}

// Sends a command once. Resolves to { answer } or { retry: message } when
// asking again with the same key is safe and may help: nothing came back (no
// connection, a dropped one, or a gateway's page instead of the server's
// answer), or the server said that nothing changed and to try again (503
// with its error document: the journal could not be written, or too many
// connections). Throws ApiError for an answer that is final.
async function attempt(url, init) {
  const abort = new AbortController();
  const timer = setTimeout(() => abort.abort(), ATTEMPT_TIMEOUT_MS);
  let response;
  let text;
  try {
    response = await fetch(url, { ...init, signal: abort.signal });
    text = await response.text();
  } catch {
    return { retry: NO_ANSWER };
  } finally {
    clearTimeout(timer);
  }
  let answer = null;
  try {
    answer = JSON.parse(text);
  } catch {
    // Handled below like any other unexpected answer.
  }
  const error = answer?.error;
  if (response.status === 503 && typeof error?.message === 'string') {
    return { retry: error.message };
  }
  if ([502, 503, 504].includes(response.status) && !error) return { retry: NO_ANSWER };
  if (!response.ok || typeof answer?.accepted !== 'boolean' || !answer.game) {
    throw new ApiError(problemText(response.status, answer));
  }
  return { answer: { id: Number(response.headers.get('Event-Id')), response: answer } };
}

// Sends a command under a key of its own, and again under the same key while
// it got no answer: the server answers a key it has seen with its first
// answer and applies nothing twice, so a dart whose answer was lost counts
// once. With `after`, an event id, it is applied only to the board as that
// event left it (If-Match). onRetry() is told before every wait.
async function post(board, token, action, body, onRetry, after) {
  const headers = { Authorization: `Bearer ${token}`, 'Idempotency-Key': freshKey() };
  if (after !== undefined) headers['If-Match'] = `"${after}"`;
  const init = { method: 'POST', headers, cache: 'no-store' };
  if (body !== undefined) {
    headers['Content-Type'] = 'application/json';
    init.body = JSON.stringify(body);
  }
  const url = `/api/boards/${board}/${action}`;
  for (let retries = 0; ; retries += 1) {
    const { answer, retry } = await attempt(url, init);
    if (answer) return { ...answer, retried: retries > 0 };
    if (retries === RETRY_DELAYS_MS.length) throw new ApiError(retry);
    onRetry();
    await new Promise((resolve) => setTimeout(resolve, RETRY_DELAYS_MS[retries]));
  }
}

// Sends the commands of one scoring page. They go one at a time, in the
// order they were given, a command's retries included: two darts sent at once
// could otherwise arrive swapped, and a dart could overtake the board clear
// before it. For the same reason a command given before an earlier one
// failed is not sent at all: it was meant to follow that one. onAnswer() is
// told every answer as it comes, before the next command is sent.
export function makeClient(board, token, { onRetry = () => {}, onAnswer = () => {} } = {}) {
  let queue = Promise.resolve();
  let failures = 0;
  const enqueue = (task) => {
    const given = failures;
    const result = queue.then(() => {
      if (failures !== given) {
        throw new ApiError('Inte skickat, eftersom ett tidigare kommando misslyckades');
      }
      return task().catch((error) => {
        failures += 1;
        throw error;
      });
    });
    queue = result.catch(() => {});
    return result;
  };
  const one = async (action, body, after) => {
    const answer = await post(board, token, action, body, onRetry, after);
    onAnswer(answer);
    return answer;
  };
  const send = (action, body) => enqueue(() => one(action, body));
  return {
    // When clearFirst() holds as the dart's turn comes, the board clear is
    // sent before it. Resolves to the dart's answer.
    dart: (notation, source, clearFirst = () => false) => enqueue(async () => {
      if (clearFirst()) await one('clear');
      return one('darts', { notation, source });
    }),
    undo: () => send('undo'),
    clear: () => send('clear'),
    start: (players, { legs, sets }) => send('start', { players, legs, sets }),
    // Sends `steps` ({ action, body }) in order as one command, each applied
    // only to the board as the one before left it, the first as event
    // `after` left it; stops after the first one the engine refuses.
    // Resolves to their answers.
    steps: (steps, after) => enqueue(async () => {
      const answers = [];
      let last = after;
      for (const { action, body } of steps) {
        const answer = await one(action, body, last);
        answers.push(answer);
        if (!answer.response.accepted) break;
        last = answer.id;
      }
      return answers;
    }),
  };
}
