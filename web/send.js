// The organiser's writes: a change sent with the organiser's token, and
// what to tell when it was not made.

// Sends `body` to `path` as the organiser; returns { answer } with the
// server's document, or { problem } with a Swedish sentence saying why not.
export async function sendAsOrganiser(token, path, body) {
  if (!token) return { problem: 'Öppna arrangörens adress, den som slutar på #token=…' };
  let response;
  let answer = null;
  try {
    response = await fetch(path, {
      method: 'POST',
      cache: 'no-store',
      headers: { Authorization: `Bearer ${token}`, 'Content-Type': 'application/json' },
      body: JSON.stringify(body),
    });
    answer = await response.json().catch(() => null);
  } catch {
    return { problem: 'Inget svar från servern; försök igen' };
  }
  if (response.status === 401 || response.status === 403) {
    return { problem: 'Fel eller saknad token: öppna arrangörens adress igen' };
  }
  if (!response.ok) {
    return { problem: answer?.error?.message ?? `Servern svarade med status ${response.status}` };
  }
  return { answer };
}
