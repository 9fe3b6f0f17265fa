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

function problemText(status, body) {
  if (status === 401 || status === 403) {
    return 'Fel eller saknad token: öppna poängräkningsadressen för den här tavlan igen';
  }
  const message = body?.error?.message;
  return typeof message === 'string' ? message : `Servern svarade med status ${status}`;
}

async function post(board, token, action, body) {
  const headers = { Authorization: `Bearer ${token}` };
  const init = { method: 'POST', headers, cache: 'no-store' };
  if (body !== undefined) {
    headers['Content-Type'] = 'application/json';
    init.body = JSON.stringify(body);
  }
  let response;
  try {
    response = await fetch(`/api/boards/${board}/${action}`, init);
  } catch {
    throw new ApiError('Inget svar från servern; kontrollera ställningen och försök igen');
  }
  let answer = null;
  try {
    answer = await response.json();
  } catch {
    // Handled below like any other unexpected answer.
  }
  if (!response.ok || typeof answer?.accepted !== 'boolean' || !answer.game) {
    throw new ApiError(problemText(response.status, answer));
  }
  return { id: Number(response.headers.get('Event-Id')), response: answer };
}

// Sends the commands of one scoring page. They go one at a time, in the
// order they were given: two darts sent at once could otherwise arrive
// swapped, and a dart could overtake the board clear before it. For the same
// reason a command given before an earlier one failed is not sent at all: it
// was meant to follow that one.
export function makeClient(board, token) {
  let queue = Promise.resolve();
  let failures = 0;
  const send = (action, body) => {
    const given = failures;
    const result = queue.then(() => {
      if (failures !== given) {
        throw new ApiError('Inte skickat, eftersom ett tidigare kommando misslyckades');
      }
      return post(board, token, action, body).catch((error) => {
        failures += 1;
        throw error;
      });
    });
    queue = result.catch(() => {});
    return result;
  };
  return {
    dart: (notation, source) => send('darts', { notation, source }),
    undo: () => send('undo'),
    clear: () => send('clear'),
    start: (players) => send('start', { players }),
  };
}
