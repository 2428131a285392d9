// The console: the settings and commands, the status in words, the progress of long
// commands, the live log and the simulated units of the development cloud.
import { AgentLink } from './agent_link.js';
import { describeStatus, milestones } from './status_texts.js';

const $ = (id) => document.getElementById(id);
const params = new URLSearchParams(location.search);
// ?port=N pins the agent's port, for a machine where several agents run.
const link = new AgentLink(params.has('port') ? { ports: [Number(params.get('port'))] } : {});

let catalogue = { members: [], models: [], server: '' };
let running = null;  // the long command under way and the furthest milestone it reached
const maxLogLines = 2000;
const heldLines = [];
const openFiles = new Set();  // units whose file list is unfolded

// ---------------------------------------------------------------------------------------
// Status

function showStatus(text, { status = '', code = '', kind = '' } = {}, help = null) {
  const element = $('status');
  element.textContent = text;
  element.dataset.status = status;
  element.dataset.code = code;
  element.className = kind;
  const helpElement = $('status-help');
  helpElement.replaceChildren();
  if (help) {
    helpElement.append(...help);
  }
}

function onState({ state, port }) {
  const badge = $('link-state');
  badge.className = 'badge ' + (state === 'open' ? 'connected' : state);
  $('connect').hidden = state === 'open' || state === 'connecting';
  if (state === 'connecting') {
    badge.textContent = 'connecting';
    showStatus('Looking for the agent on ports 10001 to 10004');
  } else if (state === 'open') {
    badge.textContent = `agent on port ${port}`;
    showStatus('Connected; waiting for the agent\'s status', { kind: 'connected' });
  } else if (state === 'refused') {
    badge.textContent = 'refused';
    showStatus(`Refused: another page is connected to the agent on port ${port}`,
               { kind: 'refused' },
               ['The agent serves one page at a time. Close the other page, then connect again. ' +
                '(An agent built to allow only the member site\'s pages refuses this console too.)']);
  } else if (state === 'unreachable') {
    badge.textContent = 'no agent';
    const accept = document.createElement('a');
    accept.href = `https://localhost:${port}/`;
    accept.target = '_blank';
    accept.textContent = accept.href;
    showStatus('Cannot reach the agent', { kind: 'unreachable' },
               ['Either it is not running, or this browser does not trust its certificate: open ',
                accept, ', accept the certificate there, and connect again.']);
  } else if (state === 'closed') {
    badge.textContent = 'not connected';
    showStatus(`The agent on port ${port} closed the connection`);
    endProgress();
  }
}

function onStatus(status) {
  showStatus(describeStatus(status), { status: String(status.Status), code: String(status.Code ?? '') });
  if (status.Status === 4) {
    advance(Infinity);
  }
  if (status.Status !== 3) {
    endProgress(status.Status === 4);
    refreshUnits();
  }
}

// ---------------------------------------------------------------------------------------
// Progress of a long command, from the log lines it writes

function startProgress(command) {
  running = { command, reached: -1 };
  $('progress').hidden = false;
  $('progress-bar').value = 0;
  $('progress-step').textContent = 'Starting';
}

function advance(step) {
  if (!running) {
    return;
  }
  const steps = milestones[running.command];
  running.reached = Math.max(running.reached, step);
  const done = running.reached === Infinity;
  $('progress-bar').value = done ? 100 : Math.round(100 * (running.reached + 1) / (steps.length + 1));
  $('progress-step').textContent = done ? 'Done' : steps[running.reached][1];
}

function endProgress(finished = false) {
  if (running && !finished) {
    $('progress').hidden = true;
  }
  running = null;
}

function followProgress(text) {
  if (!running) {
    return;
  }
  milestones[running.command].forEach(([fragment], step) => {
    if (text.includes(fragment)) {
      advance(step);
    }
  });
}

// ---------------------------------------------------------------------------------------
// Log

function lineElement({ time, data }) {
  const item = document.createElement('li');
  const stamp = document.createElement('span');
  stamp.className = 'time';
  stamp.textContent = time ?? '';
  const text = document.createElement('span');
  if (typeof data === 'object' && data !== null) {
    text.className = 'status';
    text.textContent = JSON.stringify(data);
  } else {
    text.textContent = String(data);
  }
  item.append(stamp, text);
  return item;
}

function applyFilter(item) {
  const filter = $('log-filter').value.toLowerCase();
  item.hidden = filter !== '' && !item.textContent.toLowerCase().includes(filter);
}

function showLines(lines) {
  const list = $('log-lines');
  const atEnd = list.scrollTop + list.clientHeight >= list.scrollHeight - 4;
  for (const line of lines) {
    const item = lineElement(line);
    applyFilter(item);
    list.append(item);
  }
  while (list.childElementCount > maxLogLines) {
    list.firstElementChild.remove();
  }
  if (atEnd) {
    list.scrollTop = list.scrollHeight;
  }
}

function onLine(line) {
  if (typeof line.data === 'object' && line.data !== null && 'Status' in line.data) {
    onStatus(line.data);
  } else {
    followProgress(String(line.data));
  }
  if ($('log-pause').checked) {
    heldLines.push(line);
    $('log-held').textContent = `${heldLines.length} lines held`;
  } else {
    showLines([line]);
  }
}

// ---------------------------------------------------------------------------------------
// Settings and commands

function option(value, text) {
  const element = document.createElement('option');
  element.value = value;
  element.textContent = text;
  return element;
}

function chosenModel() {
  return catalogue.models.find((model) => model.name === $('model').value);
}

function chosenMember() {
  return catalogue.members.find((member) => member.userKey === $('member').value);
}

// The member's product of the chosen model gives the product id and serial number.
function fillFromCatalogue() {
  const member = chosenMember();
  const model = chosenModel();
  if (!member || !model) {
    return;
  }
  $('user-key').value = member.userKey;
  $('user-secret').value = member.userSecret;
  const product = member.products.find((p) => p.model === model.name);
  $('product').value = product ? product.id : 0;
  $('serial').value = product ? product.serialNumber : '';
  $('course').replaceChildren(
    ...model.courses.map((course) => option(course.code, `${course.name} (${course.code}, slot ${course.index})`)));
}

function credentials() {
  return {
    device: $('model').value,
    server: $('server').value,
    userKey: $('user-key').value,
    userSecret: $('user-secret').value,
    id_memberProduct: Number($('product').value),
  };
}

function commandText(command) {
  switch (command) {
    case 'SearchDevice': {
      const text = { command, ...credentials() };
      if ($('serial').value !== '') {
        text.serialNumber = $('serial').value;
      }
      return text;
    }
    case 'UpdateCourse':
      return { command, courseCode: $('course').value };
    case 'FullUpdate':
      return { command, ...credentials() };
    default:
      return { command };
  }
}

function send(command) {
  if (!link.send(commandText(command))) {
    return;
  }
  if (command in milestones) {
    startProgress(command);
  }
}

async function loadCatalogue() {
  const answer = await fetch('/api/catalogue', { cache: 'no-store' });
  catalogue = await answer.json();
  $('server').value = catalogue.server;
  $('member').replaceChildren(
    ...catalogue.members.map((member) => option(member.userKey, `${member.name} (${member.userKey})`)));
  $('model').replaceChildren(
    ...catalogue.models.map((model) => option(model.name, `${model.name} — ${model.family}`)));
  fillFromCatalogue();
}

// ---------------------------------------------------------------------------------------
// Simulated units

function unitElement(unit) {
  const item = document.createElement('li');
  item.dataset.unit = unit.name;
  item.dataset.plugged = unit.plugged;
  const head = document.createElement('div');
  head.className = 'head';
  const name = document.createElement('span');
  name.className = 'name';
  name.textContent = unit.kind === 'serial' ? `${unit.name} (${unit.models.join(', ')})` : unit.name;
  const state = document.createElement('span');
  state.className = unit.plugged ? 'plugged' : 'unplugged';
  state.textContent = unit.plugged ? 'plugged in' : 'unplugged';
  const toggle = document.createElement('button');
  toggle.type = 'button';
  toggle.textContent = unit.plugged ? 'Unplug' : 'Plug in';
  toggle.onclick = () => plug(unit.name, !unit.plugged);
  head.append(name, state, toggle);
  item.append(head);
  const holds = document.createElement('ul');
  holds.className = 'holds';
  for (const course of unit.courses) {
    const entry = document.createElement('li');
    entry.textContent = `${course.where}${course.slot ? ` slot ${course.slot}` : ''}: ${course.course}`;
    holds.append(entry);
  }
  item.append(holds);
  if (unit.files.length) {
    // The files stay folded, so that the list shows every unit at a glance.
    const files = document.createElement('details');
    files.className = 'files';
    files.open = openFiles.has(unit.name);
    files.ontoggle = () => (files.open ? openFiles.add(unit.name) : openFiles.delete(unit.name));
    const summary = document.createElement('summary');
    summary.textContent = `${unit.files.length} files`;
    const list = document.createElement('p');
    list.textContent = unit.files.map((file) => `${file.path} (${file.size} B)`).join(', ');
    files.append(summary, list);
    item.append(files);
  }
  return item;
}

function showUnits(units) {
  $('unit-list').replaceChildren(...units.map(unitElement));
}

async function refreshUnits() {
  try {
    const answer = await fetch('/api/units', { cache: 'no-store' });
    showUnits(await answer.json());
  } catch {
    // The development cloud went away; the list stays as it was.
  }
}

async function plug(unit, plugged) {
  const answer = await fetch(`/api/units/${unit}/${plugged ? 'plug' : 'unplug'}`, { method: 'POST' });
  if (answer.ok) {
    showUnits(await answer.json());
  }
}

// ---------------------------------------------------------------------------------------

link.addEventListener('state', (event) => onState(event.detail));
link.addEventListener('line', (event) => onLine(event.detail));
$('connect').onclick = () => link.connect();
$('model').onchange = fillFromCatalogue;
$('member').onchange = fillFromCatalogue;
$('commands').onclick = (event) => {
  if (event.target.dataset.command) {
    send(event.target.dataset.command);
  }
};
$('log-filter').oninput = () => {
  for (const item of $('log-lines').children) {
    applyFilter(item);
  }
};
$('log-pause').onchange = () => {
  if (!$('log-pause').checked) {
    showLines(heldLines.splice(0));
    $('log-held').textContent = '';
  }
};
$('log-clear').onclick = () => $('log-lines').replaceChildren();

// The list is read again after every status and every plug; a slow look besides catches
// what changed otherwise, without filling the development cloud's log.
const unitRefreshMs = 10000;
setInterval(refreshUnits, unitRefreshMs);
loadCatalogue().then(refreshUnits);
link.connect();
