// Which competition and round a board's match belongs to, for the board's
// pages: "Klubbkväll · Grupp A, omgång 2". Each competition is read once,
// and again when it has a match that was not in what was read.

const documents = new Map(); // id -> document, or null while it is read

// Returns the round of `match` as people say it: "Grupp A, omgång 2",
// "Semifinal", "Final".
export function roundText(competition, match) {
  if (match.stage === 'group') {
    return match.group && competition.tables.length > 1
      ? `Grupp ${match.group}, omgång ${match.round}`
      : `Omgång ${match.round}`;
  }
  const rounds = competition.bracket.length;
  const names = { 0: 'Final', 1: 'Semifinal', 2: 'Kvartsfinal' };
  return names[rounds - match.round] ?? `Omgång ${match.round} av slutspelet`;
}

// Returns the label of a match's "competition" ({ id, match }), or '' for
// none or while its competition is read; `onRead` is called once it is.
export function competitionLabel(tag, onRead) {
  if (!tag) return '';
  const competition = documents.get(tag.id);
  const match = competition?.matches[tag.match - 1];
  if (match) return `${competition.name} · ${roundText(competition, match)}`;
  if (competition !== null) {
    documents.set(tag.id, null);
    fetch(`/api/competitions/${tag.id}`, { cache: 'no-store' })
      .then((response) => (response.ok ? response.json() : undefined))
      .catch(() => undefined)
      .then((read) => {
        if (read) documents.set(tag.id, read);
        else documents.delete(tag.id);
        if (read) onRead?.();
      });
  }
  return '';
}
