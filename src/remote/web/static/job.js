"use strict";
// The job page: the status polled until the job ends, then the pictures,
// the calibration, the quality figures, the objects and the files.
(() => {
  const job = Number(location.pathname.split("/").filter(Boolean)[1]);
  const $ = id => document.getElementById(id);
  $("job").textContent = job;

  function rows(table, pairs) {
    table.replaceChildren(...pairs.map(([name, value]) => {
      const row = siderama.element("tr");
      row.append(siderama.element("td", name), siderama.element("td", value));
      return row;
    }));
  }

  function showCalibration(c) {
    rows($("calibration"), [
      ["Centre (RA, Dec)", `${c.ra.toFixed(5)}°, ${c.dec.toFixed(5)}°`],
      ["Centre (sexagesimal)", `${siderama.hms(c.ra)}, ${siderama.dms(c.dec)}`],
      ["Field size", `${siderama.angle(c.width_arcsec)} × ${siderama.angle(c.height_arcsec)}`],
      ["Radius", `${c.radius.toFixed(3)}°`],
      ["Pixel scale", `${c.pixscale.toFixed(3)}″/px`],
      ["Orientation", `${c.orientation.toFixed(2)}°`],
      ["Parity", c.parity > 0 ? "normal" : "mirrored"],
    ]);
  }

  function showQuality(q) {
    if (!q) return rows($("quality"), [["Figures", "not available"]]);
    rows($("quality"), [
      ["Matched stars", q.matched_stars],
      ["RMS of residuals", q.rms_arcsec === null ? "–" : `${q.rms_arcsec.toFixed(2)}″`],
      ["Log-odds", q.log_odds === null ? "–" : q.log_odds.toFixed(1)],
    ]);
  }

  function showFiles() {
    const files = [
      ["WCS header (wcs.fits)", `/wcs_file/${job}`], ["Image with WCS (new-image.fits)", `/new_fits_file/${job}`],
      ["Matched stars (corr.fits)", `/corr_file/${job}`], ["Reference stars (rdls.fits)", `/rdls_file/${job}`],
      ["Detected stars (axy.fits)", `/axy_file/${job}`], ["Annotated image", `/annotated_display/${job}`],
      ["Detected and matched stars", `/red_green_image_display/${job}`],
      ["Detected stars image", `/extraction_image_display/${job}`], ["Calibration (JSON)", `/api/jobs/${job}/info`],
      ["Tool log", `/joblog/${job}`],
    ];
    $("files").replaceChildren(...files.map(([name, href]) => {
      const item = siderama.element("li");
      item.append(siderama.element("a", name, { href }));
      return item;
    }));
  }

  function showSolved(info) {
    $("annotated").src = `/annotated_display/${job}`;
    $("red-green-link").href = `/red_green_image_display/${job}`;
    $("extraction-link").href = `/extraction_image_display/${job}`;
    for (let zoom = 0; zoom < 4; ++zoom) $(`zoom${zoom}`).src = `/sky_plot/zoom${zoom}/${job}`;
    showCalibration(info.calibration);
    showQuality(info.quality);
    $("objects").replaceChildren(...(info.objects_in_field || []).map(name => siderama.element("li", name)));
    showFiles();
    $("solved").hidden = false;
  }

  async function showLog() {
    const answer = await fetch(`/joblog/${job}`, { credentials: "same-origin", cache: "no-store" });
    if (answer.ok) $("log").textContent = await answer.text();
  }

  siderama.every(1.5, async () => {
    const page = await siderama.json(`/web/jobs/${job}`);
    if (page.status === "error") {
      $("status").textContent = page.errormessage;
      return true;
    }
    $("file").textContent = page.original_filename || "star list";
    $("status").textContent = page.job_status;
    $("status").className = `status ${page.job_status}`;
    $("message").textContent = page.message || "";
    await showLog();
    if (page.job_status === "solving") return false;
    if (page.job_status === "success") showSolved(await siderama.json(`/api/jobs/${job}/info`));
    return true;
  });
})();
