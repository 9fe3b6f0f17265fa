// Line charts as SVG, drawn from data alone: no library, nothing fetched.
// A chart is drawn for the size it is shown at (one unit of the drawing is
// one CSS pixel), so its text is as large as the page's and it is drawn
// again when that size changes. Names and labels are only ever set as text.

const SVG = 'http://www.w3.org/2000/svg';

// Each line differs by its dash and its marker as well as its colour, so
// the lines can be told apart without colour. Dashes are in line widths.
export const STYLES = [
  { color: '#ffd23f', dash: [], marker: 'circle' },
  { color: '#6cb6ff', dash: [4, 2], marker: 'square' },
  { color: '#ff8a80', dash: [1, 1.5], marker: 'triangle' },
  { color: '#3ecf8e', dash: [6, 2, 1, 2], marker: 'diamond' },
  { color: '#d7a8ff', dash: [2.5, 2.5], marker: 'cross' },
  { color: '#ffffff', dash: [8, 3], marker: 'down' },
  { color: '#ff9f43', dash: [1, 3], marker: 'plus' },
  { color: '#4dd0e1', dash: [5, 2, 1, 2, 1, 2], marker: 'ring' },
];

const GRID = '#334052';
const TEXT = '#f4f6f8';
const MUTED = '#a9b4c2';
const BACKGROUND = '#10141a';
// The width of a digit, and of text in general, in font sizes.
const CHAR_WIDTH = 0.6;

const styleOf = (index) => STYLES[index % STYLES.length];
const round = (value) => Math.round(value * 10) / 10;

function node(tag, attributes = {}, text) {
  const made = document.createElementNS(SVG, tag);
  for (const [name, value] of Object.entries(attributes)) made.setAttribute(name, String(value));
  if (text !== undefined) made.textContent = String(text);
  return made;
}

// Returns the path of a marker of `shape` of radius r at (x, y); `stroked`
// shapes are lines, the others are filled.
const MARKERS = {
  circle: (x, y, r) => `M${x - r},${y}a${r},${r} 0 1,0 ${2 * r},0a${r},${r} 0 1,0 ${-2 * r},0Z`,
  ring: (x, y, r) => MARKERS.circle(x, y, r * 0.8),
  square: (x, y, r) => `M${x - 0.85 * r},${y - 0.85 * r}h${1.7 * r}v${1.7 * r}h${-1.7 * r}Z`,
  triangle: (x, y, r) => `M${x},${y - 1.2 * r}l${1.1 * r},${1.9 * r}h${-2.2 * r}Z`,
  down: (x, y, r) => `M${x},${y + 1.2 * r}l${1.1 * r},${-1.9 * r}h${-2.2 * r}Z`,
  diamond: (x, y, r) => `M${x},${y - 1.2 * r}l${r},${1.2 * r}l${-r},${1.2 * r}l${-r},${-1.2 * r}Z`,
  cross: (x, y, r) => `M${x - r},${y - r}l${2 * r},${2 * r}m0,${-2 * r}l${-2 * r},${2 * r}`,
  plus: (x, y, r) => `M${x - 1.2 * r},${y}h${2.4 * r}M${x},${y - 1.2 * r}v${2.4 * r}`,
};
const STROKED = new Set(['cross', 'plus', 'ring']);

function seriesAttributes(style, line) {
  return {
    fill: 'none',
    stroke: style.color,
    'stroke-width': round(line),
    'stroke-linejoin': 'round',
    'stroke-linecap': 'round',
    'stroke-dasharray': style.dash.length
      ? style.dash.map((d) => round(d * line)).join(' ') : 'none',
  };
}

function markerAttributes(style, line) {
  return STROKED.has(style.marker)
    ? { fill: BACKGROUND, stroke: style.color, 'stroke-width': round(line) }
    : { fill: style.color, stroke: BACKGROUND, 'stroke-width': round(line / 2) };
}

// Returns a short sample of series `index`'s line and marker, to stand
// beside its name in a legend; it scales with the text around it.
export function swatch(index) {
  const style = styleOf(index);
  const picture = node('svg', { class: 'swatch', viewBox: '0 0 48 16', 'aria-hidden': 'true' });
  picture.append(
    node('path', { d: 'M2,8H46', ...seriesAttributes(style, 2.5) }),
    node('path', { d: MARKERS[style.marker](24, 8, 5), ...markerAttributes(style, 2.5) }),
  );
  return picture;
}

// Returns ticks on whole numbers in "nice" steps (1, 2 or 5 times a power
// of ten) from `min` to `max`, at most `count` of them.
export function numberTicks(min, max, count) {
  const rough = Math.max((max - min) / Math.max(1, count - 1), 1);
  const power = 10 ** Math.floor(Math.log10(Math.max(rough, 1e-9)));
  const step = [1, 2, 5, 10].map((m) => m * power).find((s) => s >= rough) ?? 10 * power;
  const ticks = [];
  for (let value = Math.ceil(min / step) * step; value <= max + 1e-9; value += step) {
    ticks.push({ value, label: String(value) });
  }
  return ticks;
}

// Returns the smallest nice number at least `value` (for the top of an axis).
export function niceCeiling(value) {
  const ticks = numberTicks(0, value, 5);
  const step = ticks.length > 1 ? ticks[1].value - ticks[0].value : 1;
  return Math.max(step, Math.ceil(value / step) * step);
}

const MINUTE = 60_000;
const HOUR = 60 * MINUTE;
const DAY = 24 * HOUR;
const CLOCK_STEPS = [MINUTE, 5 * MINUTE, 15 * MINUTE, 30 * MINUTE, HOUR, 3 * HOUR, 6 * HOUR,
  12 * HOUR, DAY, 2 * DAY, 7 * DAY, 14 * DAY];
const MONTH_STEPS = [1, 2, 3, 6, 12, 24, 60, 120];
const clock = new Intl.DateTimeFormat('sv-SE', { hour: '2-digit', minute: '2-digit' });
const day = new Intl.DateTimeFormat('sv-SE', { day: 'numeric', month: 'short' });
const month = new Intl.DateTimeFormat('sv-SE', { month: 'short', year: 'numeric' });
const year = new Intl.DateTimeFormat('sv-SE', { year: 'numeric' });

// Returns ticks for times (milliseconds) from `min` to `max`, at most
// `count`, on whole minutes, hours, days or months of local time.
export function timeTicks(min, max, count) {
  const step = CLOCK_STEPS.find((s) => (max - min) / s <= count - 1);
  const ticks = [];
  if (step) {
    const format = step < DAY ? clock : day;
    // Whole steps of local time: the offset is the zone's at `min`.
    const offset = new Date(min).getTimezoneOffset() * MINUTE;
    for (let t = Math.ceil((min - offset) / step) * step + offset; t <= max; t += step) {
      ticks.push({ value: t, label: format.format(t) });
    }
    return ticks;
  }
  const months = (max - min) / (30 * DAY);
  const monthStep = MONTH_STEPS.find((s) => months / s <= count - 1)
    ?? 12 * Math.ceil(months / 12 / count);
  const format = monthStep < 12 ? month : year;
  const at = new Date(min);
  at.setDate(1);
  at.setHours(0, 0, 0, 0);
  if (at.getTime() < min) at.setMonth(at.getMonth() + 1);
  // Quarters begin in January, April, July and October; years in January.
  while ((at.getFullYear() * 12 + at.getMonth()) % monthStep) at.setMonth(at.getMonth() + 1);
  for (; at.getTime() <= max; at.setMonth(at.getMonth() + monthStep)) {
    ticks.push({ value: at.getTime(), label: format.format(at) });
  }
  return ticks;
}

const widthOf = (text, fontSize) => String(text).length * CHAR_WIDTH * fontSize;

// Returns an SVG line chart of `data` drawn for `size`:
//   data: { title, description,
//           x: { min, max, title, ticks(count) -> [{ value, label }] },
//           y: { min, max, title, ticks(count) -> [{ value, label }] },
//           series: [{ name, points: [[x, y], ...], marked: first point index with a marker }] }
//   size: { width, height, fontSize } in CSS pixels.
// The chart's name and description are its <title> and <desc>; series i is
// drawn in STYLES[i] as one polyline and one path of markers.
export function lineChart(data, { width, height, fontSize }) {
  const f = fontSize;
  const chart = node('svg', {
    class: 'chart',
    viewBox: `0 0 ${round(width)} ${round(height)}`,
    role: 'img',
    'font-size': round(f),
  });
  chart.append(node('title', {}, data.title), node('desc', {}, data.description));

  const top = f;
  const bottom = height - 3.2 * f;
  const yTicks = data.y.ticks(Math.max(2, Math.floor((bottom - top) / (2.2 * f)) + 1));
  const labelWidth = Math.max(0, ...yTicks.map((tick) => widthOf(tick.label, f)));
  const left = 2.2 * f + labelWidth;
  let right = width - f;
  const spacing = (ticks) => 1.5 * f + Math.max(0, ...ticks.map((tick) => widthOf(tick.label, f)));
  // Enough room for each label: fewer ticks until they fit.
  let xTicks = data.x.ticks(Math.max(2, Math.floor((right - left) / (3 * f))));
  for (let count = xTicks.length; count > 2 && xTicks.length * spacing(xTicks) > right - left; ) {
    count -= 1;
    xTicks = data.x.ticks(count);
  }
  if (xTicks.length) {
    const last = xTicks[xTicks.length - 1].label;
    right = Math.min(right, width - widthOf(last, f) / 2 - 0.25 * f);
  }

  const span = (axis) => (axis.max > axis.min ? axis.max - axis.min : 1);
  const px = (x) => round(left + ((x - data.x.min) / span(data.x)) * (right - left));
  const py = (y) => round(bottom - ((y - data.y.min) / span(data.y)) * (bottom - top));

  const grid = node('g', { fill: 'none', stroke: GRID, 'stroke-width': 1 });
  const labels = node('g', { fill: TEXT });
  for (const tick of yTicks) {
    grid.append(node('path', { d: `M${round(left)},${py(tick.value)}H${round(right)}` }));
    labels.append(node('text', { x: round(left - 0.4 * f), y: py(tick.value), 'text-anchor': 'end',
      'dominant-baseline': 'middle' }, tick.label));
  }
  for (const tick of xTicks) {
    grid.append(node('path', { d: `M${px(tick.value)},${round(bottom)}v${round(0.4 * f)}` }));
    labels.append(node('text', {
      x: px(tick.value), y: round(bottom + 1.4 * f), 'text-anchor': 'middle',
    }, tick.label));
  }
  grid.append(node('path', { d: `M${round(left)},${round(top)}V${round(bottom)}H${round(right)}`,
    stroke: MUTED }));
  const titles = node('g', { fill: MUTED });
  titles.append(
    node('text', {
      x: round((left + right) / 2), y: round(height - 0.4 * f), 'text-anchor': 'middle',
    }, data.x.title),
    node('text', {
      x: 0, y: 0, 'text-anchor': 'middle', 'dominant-baseline': 'hanging',
      transform: `translate(${round(0.2 * f)},${round((top + bottom) / 2)}) rotate(-90)`,
    }, data.y.title),
  );
  chart.append(grid, labels, titles);

  const line = Math.max(2, f / 6);
  data.series.forEach((series, index) => {
    const style = styleOf(index);
    const points = series.points.map(([x, y]) => [px(x), py(y)]);
    const group = node('g', { class: 'series' });
    group.append(node('polyline', {
      class: 'line',
      points: points.map((p) => p.join(',')).join(' '),
      ...seriesAttributes(style, line),
    }));
    const marks = points.slice(series.marked ?? 0);
    if (marks.length) {
      group.append(node('path', {
        class: 'markers', d: marks.map(([x, y]) => MARKERS[style.marker](x, y, 0.35 * f)).join(''),
        ...markerAttributes(style, line),
      }));
    }
    chart.append(group);
  });
  return chart;
}

// Draws a chart into `holder` now and again whenever the holder's width
// changes; `chart(size)` returns the chart for a size. Drawing waits for the
// next frame: a chart drawn while sizes are being reported would change a
// size in the middle of the report.
const drawers = new Map();
const pending = new Set();

function drawPending() {
  for (const target of pending) {
    const width = Math.floor(target.clientWidth);
    const draw = drawers.get(target);
    if (!draw || width === 0 || width === draw.width) continue;
    draw.width = width;
    const fontSize = parseFloat(getComputedStyle(target).fontSize);
    // Tall enough for its ticks on a phone, and never taller than about
    // half the screen.
    const height = Math.round(Math.min(Math.max(width * 0.6, 18 * fontSize),
      Math.max(15 * fontSize, innerHeight * 0.55)));
    target.replaceChildren(draw.chart({ width, height, fontSize }));
  }
  pending.clear();
}

const resized = new ResizeObserver((entries) => {
  if (!pending.size) requestAnimationFrame(drawPending);
  for (const { target } of entries) pending.add(target);
});

export function drawWhenSized(holder, chart) {
  // Holders drawn once and since taken off the page are no longer watched.
  for (const [old, { width }] of drawers) {
    if (width && !old.isConnected) {
      resized.unobserve(old);
      drawers.delete(old);
    }
  }
  drawers.set(holder, { chart, width: 0 });
  resized.observe(holder);
}
