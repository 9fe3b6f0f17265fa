// Small helpers for building the pages. Text from the server (names, labels)
// is only ever set as text, never as markup.

export const byId = (id) => document.getElementById(id);

export function element(tag, className, text) {
  const node = document.createElement(tag);
  if (className) node.className = className;
  if (text !== undefined) node.textContent = String(text);
  return node;
}
