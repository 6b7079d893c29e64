"use strict";
// The queue page, refreshed every few seconds.
(() => {
  const $ = id => document.getElementById(id);

  function row(cells) {
    const made = siderama.element("tr");
    for (const cell of cells) made.append(cell instanceof Node ? cell : siderama.element("td", cell));
    return made;
  }

  function jobCell(entry) {
    const cell = siderama.element("td");
    if (entry.job) cell.append(siderama.element("a", entry.job, { href: `/jobs/${entry.job}` }));
    else cell.textContent = entry.job || "–";
    return cell;
  }

  function chart(hours) {
    const highest = Math.max(1, ...hours.map(hour => hour.jobs));
    $("chart").replaceChildren(...hours.map(hour => {
      const bar = siderama.element("div", null, { title: `${hour.hour}: ${hour.jobs} jobs` });
      bar.style.height = `${100 * hour.jobs / highest}%`;
      if (hour.jobs > 0) bar.append(siderama.element("span", hour.mean_seconds.toFixed(1)));
      return bar;
    }));
  }

  siderama.every(3, async () => {
    const queue = await siderama.json("/web/queue");
    $("counts").textContent =
      `${queue.counts.waiting} waiting, ${queue.counts.running} running, ${queue.counts.finished} finished in the last day`;
    $("members").tBodies[0].replaceChildren(...queue.members.map(member =>
      row([member.host, member.solves, member.running, `${member.heartbeat_age.toFixed(0)} s ago`])));
    $("jobs").tBodies[0].replaceChildren(...queue.jobs.map(entry =>
      row([jobCell(entry), entry.client, entry.file, entry.status, entry.time])));
    chart(queue.hours);
    return false;
  });
})();
