// Starts fxls for effect sources and hands it to VS Code's language client.
"use strict";

const vscode = require("vscode");
const { LanguageClient, TransportKind } = require("vscode-languageclient/node");

let client;

function activate(context) {
  const settings = vscode.workspace.getConfiguration("embervise.fxls");
  const command = settings.get("path", "fxls");
  const args = settings.get("arguments", []);
  const server = { command, args, transport: TransportKind.stdio };
  client = new LanguageClient(
    "fxls",
    "Embervise fxls",
    { run: server, debug: server },
    {
      documentSelector: [{ scheme: "file", language: "fx" }],
      synchronize: { fileEvents: vscode.workspace.createFileSystemWatcher("**/*.proj00") },
    }
  );
  context.subscriptions.push({ dispose: () => client && client.stop() });
  return client.start();
}

function deactivate() {
  return client ? client.stop() : undefined;
}

module.exports = { activate, deactivate };
