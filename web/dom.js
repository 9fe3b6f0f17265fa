// Small helpers for building the pages. Text from the server (names, labels)
// is only ever set as text, never as markup.

export const byId = (id) => document.getElementById(id);

export function element(tag, className, text) {
  const node = document.createElement(tag);
  if (className) node.className = className;
  if (text !== undefined) node.textContent = String(text);
  return node;
}

// A choice kept in this browser (localStorage). Some locked-down browsers
// refuse storage; the choice then lasts as long as the page.
export function storedChoice(key) {
  try {
    return localStorage.getItem(key);
  } catch {
    return null;
  }
}

export function storeChoice(key, value) {
  try {
    localStorage.setItem(key, value);
  } catch {
    // Kept in the page only.
  }
}

// Takes a token off the address bar ("#token=...") into this tab's
// sessionStorage under `key`, so that a reload or a phone that drops the
// page keeps it; returns it, or the one kept, or null. Never localStorage or
// a cookie: other tabs, later visits and requests would carry it too.
export function takeToken(key) {
  const match = /^#token=(.+)$/.exec(location.hash);
  if (!match) {
    try {
      return sessionStorage.getItem(key);
    } catch {
      return null;
    }
  }
  history.replaceState(null, '', location.pathname + location.search);
  let token;
  try {
    token = decodeURIComponent(match[1]);
  } catch {
    token = match[1];
  }
  try {
    sessionStorage.setItem(key, token);
  } catch {
    // Kept until the page is left.
  }
  return token;
}
