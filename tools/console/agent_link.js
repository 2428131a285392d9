// The console's socket to the agent: the first of its ports that takes the page, and why
// none did when none does. Events: "state" ({state, port}) and "line" ({time, data}).

export const agentPorts = [10001, 10002, 10003, 10004];

// A socket that has not opened by then is taken for a port that does not answer.
const openTimeoutMs = 3000;

function tryOpen(url) {
  return new Promise((resolve) => {
    let socket;
    try {
      socket = new WebSocket(url);
    } catch {
      resolve(null);
      return;
    }
    const timer = setTimeout(() => {
      socket.close();
      resolve(null);
    }, openTimeoutMs);
    socket.onopen = () => {
      clearTimeout(timer);
      resolve(socket);
    };
    socket.onerror = socket.onclose = () => {
      clearTimeout(timer);
      resolve(null);
    };
  });
}

// The agent answers a plain HTTPS request with a short page, also while another page holds
// its socket; a browser that does not trust its certificate fails the request.
async function answersHttps(url) {
  try {
    await fetch(url, { mode: 'no-cors', cache: 'no-store' });
    return true;
  } catch {
    return false;
  }
}

export class AgentLink extends EventTarget {
  constructor({ host = 'localhost', ports = agentPorts } = {}) {
    super();
    this.host = host;
    this.ports = ports;
    this.socket = null;
    this.port = null;
  }

  get connected() {
    return this.socket !== null && this.socket.readyState === WebSocket.OPEN;
  }

  async connect() {
    if (this.socket) {
      return;
    }
    this.emit('state', { state: 'connecting' });
    for (const port of this.ports) {
      const socket = await tryOpen(`wss://${this.host}:${port}/`);
      if (socket) {
        this.attach(socket, port);
        return;
      }
    }
    for (const port of this.ports) {
      if (await answersHttps(`https://${this.host}:${port}/`)) {
        // An agent runs there but did not take this page: another page has its socket.
        this.emit('state', { state: 'refused', port });
        return;
      }
    }
    this.emit('state', { state: 'unreachable', port: this.ports[0] });
  }

  attach(socket, port) {
    this.socket = socket;
    this.port = port;
    socket.onmessage = (message) => {
      let line;
      try {
        line = JSON.parse(message.data);
      } catch {
        line = { Time: '', Data: String(message.data) };
      }
      this.emit('line', { time: line.Time, data: line.Data });
    };
    socket.onclose = () => {
      this.socket = null;
      this.emit('state', { state: 'closed', port });
    };
    this.emit('state', { state: 'open', port });
  }

  send(command) {
    if (!this.connected) {
      return false;
    }
    this.socket.send(JSON.stringify(command));
    return true;
  }

  emit(type, detail) {
    this.dispatchEvent(new CustomEvent(type, { detail }));
  }
}
