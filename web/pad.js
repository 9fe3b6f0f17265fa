// The scoring pad and the keyboard. A keyboard scorer types a notation
// ("t20", "d16", "bull", "m"), or a whole visit separated by spaces
// ("t20 t20 t20"), and Enter wherever the focus is, unless it is in a text
// field.

import { byId } from './dom.js';

const MAX_NOTATION = 8;
// A second tap on the same button this soon is a bouncing touch screen, not
// a second dart.
const BOUNCE_MS = 100;

// actions: dart(notation, source) resolving to whether the dart was taken,
// undo(), clear(); rules: the server's, from /api/rules.
export function wirePad(actions, rules) {
  const multiplierButtons = [...document.querySelectorAll('[data-multiplier]')];
  let multiplier = 'S';
  const setMultiplier = (chosen) => {
    multiplier = chosen;
    for (const button of multiplierButtons) {
      button.setAttribute('aria-pressed', String(button.dataset.multiplier === chosen));
    }
  };

  const segments = byId('segments');
  for (let number = 1; number <= 20; number += 1) {
    const button = document.createElement('button');
    button.type = 'button';
    button.dataset.segment = String(number);
    button.textContent = String(number);
    segments.append(button);
  }

  let lastTap = { button: null, at: -Infinity };
  byId('pad').addEventListener('click', (event) => {
    const button = event.target.closest('button');
    if (!button) return;
    if (button.dataset.multiplier) {
      setMultiplier(button.dataset.multiplier);
    } else if (button.dataset.segment || button.dataset.dart) {
      const bounced = button === lastTap.button && event.timeStamp - lastTap.at < BOUNCE_MS;
      lastTap = { button, at: event.timeStamp };
      if (bounced) return;
      const notation = button.dataset.dart ?? multiplier + button.dataset.segment;
      actions.dart(notation, 'knappsats');
      setMultiplier('S');
    }
  });
  byId('undo').addEventListener('click', () => actions.undo());
  byId('clear').addEventListener('click', () => actions.clear());
  byId('banner-clear').addEventListener('click', () => actions.clear());
  // The next leg begins when the board is clear of the winning visit.
  byId('banner-next').addEventListener('click', () => actions.clear());

  // The darts of a line go in order, each after the answer to the one
  // before, and the rest of the line is dropped at the first one refused:
  // it was meant to follow that one. Lines follow each other the same way.
  let lines = Promise.resolve();
  const enterLine = (notations) => {
    lines = lines.then(async () => {
      for (const notation of notations) {
        if (!(await actions.dart(notation, 'tangentbord'))) return;
      }
    });
  };

  const maxTyped = rules.darts_per_turn * (MAX_NOTATION + 1) - 1;
  let typed = '';
  const typedOutput = byId('typed');
  document.addEventListener('keydown', (event) => {
    if (event.ctrlKey || event.metaKey || event.altKey || event.isComposing) return;
    if (event.target.closest?.('input, textarea, select')) return;
    if (/^[a-z0-9]$/i.test(event.key)) {
      if (typed.length < maxTyped) typed += event.key.toUpperCase();
    } else if (event.key === ' ' && typed !== '') {
      // Keeps the space from also pressing the button that has the focus.
      event.preventDefault();
      if (!typed.endsWith(' ') && typed.length < maxTyped) typed += ' ';
    } else if (event.key === 'Backspace' && typed !== '') {
      typed = typed.slice(0, -1);
    } else if (event.key === 'Escape') {
      typed = '';
    } else if (event.key === 'Enter' && typed !== '') {
      // Keeps Enter from also pressing the button that has the focus.
      event.preventDefault();
      enterLine(typed.split(' ').filter((notation) => notation !== ''));
      typed = '';
    } else {
      return;
    }
    typedOutput.textContent = typed;
  });
}
