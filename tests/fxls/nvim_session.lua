-- A real editor as the client: Neovim opens an effect source with a typo, starts fxls, waits for the
-- finding, asks hover and completion, applies the quick fix and formatting, and writes the file.
local fxls, file = os.getenv("FXLS"), os.getenv("FX_FILE")
local function fail(message)
  io.stderr:write("nvim session: " .. message .. "\n")
  vim.cmd("cquit 1")
end

vim.cmd("edit " .. vim.fn.fnameescape(file))
local buf = vim.api.nvim_get_current_buf()
local client_id = vim.lsp.start_client({
  name = "fxls",
  cmd = { fxls, "--debounce", "50" },
  root_dir = vim.fn.fnamemodify(file, ":h"),
})
if not client_id then fail("fxls does not start") end
vim.lsp.buf_attach_client(buf, client_id)
local client = vim.lsp.get_client_by_id(client_id)

if not vim.wait(20000, function() return #vim.diagnostic.get(buf) > 0 end, 50) then
  fail("no diagnostic arrived")
end
local diag = vim.diagnostic.get(buf)[1]
local lsp_diag = diag.user_data and diag.user_data.lsp or diag
if diag.lnum ~= 8 or diag.col ~= 26 or lsp_diag.code ~= "unknown-property" then
  fail(string.format("diagnostic at %d:%d code %s", diag.lnum, diag.col, tostring(lsp_diag.code)))
end

local position = { line = 8, character = 27 }
local doc = { uri = vim.uri_from_bufnr(buf) }
local hover = client.request_sync("textDocument/hover", { textDocument = doc, position = position }, 10000, buf)
if not hover or not hover.result or not hover.result.contents.value:find("has no property", 1, true) then
  fail("hover: " .. vim.inspect(hover))
end
local completion = client.request_sync("textDocument/completion", { textDocument = doc, position = position }, 10000, buf)
local offered = false
for _, item in ipairs(completion and completion.result or {}) do
  offered = offered or item.label == "Width"
end
if not offered then fail("completion does not offer Width") end

local actions = client.request_sync("textDocument/codeAction", {
  textDocument = doc,
  range = lsp_diag.range,
  context = { diagnostics = { lsp_diag } },
}, 10000, buf)
local action = actions and actions.result and actions.result[1]
if not action or action.title ~= "Replace with 'Width'" then fail("quick fix: " .. vim.inspect(actions)) end
vim.lsp.util.apply_workspace_edit(action.edit, client.offset_encoding)

local formatting = client.request_sync("textDocument/formatting", {
  textDocument = doc, options = { tabSize = 2, insertSpaces = true },
}, 10000, buf)
if not formatting or formatting.err or not formatting.result then fail("formatting: " .. vim.inspect(formatting)) end
vim.lsp.util.apply_text_edits(formatting.result, buf, client.offset_encoding)
vim.cmd("write")

-- The fixed text has no finding left.
if not vim.wait(20000, function() return #vim.diagnostic.get(buf) == 0 end, 50) then
  fail("findings remain: " .. vim.inspect(vim.diagnostic.get(buf)))
end
client.stop()
vim.wait(5000, function() return client.is_stopped() end, 50)
vim.cmd("qall!")
