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
