"use strict";
// The upload page: images dropped or picked, sent one at a time with the
// hints, each with its progress; then the job page (one image) or links.
(() => {
  const form = document.getElementById("upload"), drop = document.getElementById("drop");
  const picker = document.getElementById("files"), send = document.getElementById("send");
  const chosenList = document.getElementById("chosen"), progressList = document.getElementById("progress");
  const problem = document.getElementById("problem");
  let chosen = [];

  function choose(files) {
    chosen = Array.from(files);
    chosenList.replaceChildren(...chosen.map(file => siderama.element("li", `${file.name} (${file.size} bytes)`)));
    send.disabled = chosen.length === 0;
  }
  picker.addEventListener("change", () => choose(picker.files));
  for (const name of ["dragenter", "dragover"])
    drop.addEventListener(name, event => { event.preventDefault(); drop.classList.add("over"); });
  for (const name of ["dragleave", "drop"])
    drop.addEventListener(name, () => drop.classList.remove("over"));
  drop.addEventListener("drop", event => { event.preventDefault(); choose(event.dataTransfer.files); });

  function hints() {
    const values = {};
    for (const name of ["scale_lower", "scale_upper", "center_ra", "center_dec", "radius", "downsample_factor"]) {
      const text = form.elements[name].value.trim();
      if (text !== "") values[name] = Number(text);
    }
    if ("scale_lower" in values || "scale_upper" in values) {
      values.scale_units = form.elements.scale_units.value;
      values.scale_type = "ul";
    }
    values.parity = Number(form.elements.parity.value);
    return values;
  }

  // Sends one file; resolves with the server's answer.
  function upload(file, row) {
    const bar = siderama.element("progress", null, { max: "100", value: "0" });
    const state = siderama.element("span", "uploading");
    row.append(" ", state, bar);
    return new Promise(resolve => {
      const request = new XMLHttpRequest();
      request.open("POST", "/upload");
      request.responseType = "json";
      request.upload.onprogress = event => {
        if (event.lengthComputable) bar.value = Math.round(100 * event.loaded / event.total);
      };
      request.onload = () => {
        bar.remove();
        const answer = request.response || { status: "error", errormessage: `HTTP ${request.status}` };
        state.textContent = answer.status === "success" ? "waiting for its job" : answer.errormessage;
        resolve(answer);
      };
      request.onerror = () => { state.textContent = "the upload failed"; resolve({ status: "error" }); };
      const data = new FormData();
      data.append("token", siderama.token());
      data.append("request-json", JSON.stringify(hints()));
      data.append("file", file, file.name);
      request.send(data);
    });
  }

  // The job of a submission, once the queue has started it.
  function follow(subid, row, alone) {
    siderama.every(1, async () => {
      const answer = await siderama.json(`/api/submissions/${subid}`);
      const job = (answer.jobs || []).find(id => id !== null);
      if (job === undefined) return false;
      if (alone) { location.assign(`/jobs/${job}`); return true; }
      row.lastChild.replaceWith(siderama.element("a", `job ${job}`, { href: `/jobs/${job}` }));
      return true;
    });
  }

  form.addEventListener("submit", async event => {
    event.preventDefault();
    send.disabled = true;
    problem.hidden = true;
    const files = chosen;
    for (const file of files) {
      const row = siderama.element("li", file.name);
      progressList.append(row);
      const answer = await upload(file, row);
      if (answer.status === "success") follow(answer.subid, row, files.length === 1);
      else { problem.textContent = answer.errormessage || "upload refused"; problem.hidden = false; }
    }
    choose([]);
  });
})();
