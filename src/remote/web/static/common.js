"use strict";
// Helpers every page shares. Client texts only ever go into the page as
// text nodes, never as markup.
const siderama = {
  token: () => document.querySelector('meta[name="siderama-token"]').content,
  element(tag, text, attributes) {
    const made = document.createElement(tag);
    if (text !== undefined && text !== null) made.textContent = String(text);
    for (const [name, value] of Object.entries(attributes || {})) made.setAttribute(name, value);
    return made;
  },
  async json(url) {
    const answer = await fetch(url, { credentials: "same-origin", cache: "no-store" });
    return answer.json();
  },
  // Degrees as units:minutes:seconds, the seconds with `decimals`.
  sexagesimal(value, decimals) {
    const scale = 10 ** decimals;
    const total = Math.round(Math.abs(value) * 3600 * scale);
    const whole = Math.floor(total / scale), fraction = (total - whole * scale) / scale;
    const pad = (n, width) => String(n).padStart(width, "0");
    const seconds = (whole % 60 + fraction).toFixed(decimals).padStart(decimals + 3, "0");
    return `${pad(Math.floor(whole / 3600), 2)}:${pad(Math.floor(whole / 60) % 60, 2)}:${seconds}`;
  },
  hms: ra => siderama.sexagesimal((((ra % 360) + 360) % 360) / 15, 2),
  dms: dec => (dec < 0 ? "−" : "+") + siderama.sexagesimal(dec, 1),
  angle: arcsec => arcsec >= 7200 ? `${(arcsec / 3600).toFixed(2)}°` : `${(arcsec / 60).toFixed(1)}′`,
  // Runs `poll` now and then every `seconds` until it returns true.
  every(seconds, poll) {
    const run = async () => {
      let done = false;
      try { done = await poll(); } catch (error) { /* the next round tries again */ }
      if (!done) setTimeout(run, seconds * 1000);
    };
    run();
  },
};
