-- Neovim (0.7 or newer) for the screenshot: effect sources attach fxls (FXLS names the program).
vim.opt.termguicolors = true
vim.opt.number = true
vim.opt.signcolumn = "yes"
vim.opt.swapfile = false
vim.opt.wrap = false
vim.diagnostic.config({ virtual_text = true, signs = true, underline = true })
local client_id
vim.api.nvim_create_autocmd({ "BufRead", "BufNewFile" }, {
  pattern = { "*.Fx00a", "*.fx00a" },
  callback = function(args)
    vim.bo[args.buf].filetype = "fx"
    client_id = client_id or vim.lsp.start_client({
      name = "fxls",
      cmd = { os.getenv("FXLS"), "--debounce", "50" },
      root_dir = vim.fn.fnamemodify(args.file, ":p:h"),
    })
    vim.lsp.buf_attach_client(args.buf, client_id)
  end,
})
vim.lsp.handlers["textDocument/hover"] = vim.lsp.with(vim.lsp.handlers.hover, { border = "rounded" })
vim.cmd([[
  highlight NormalFloat guibg=#263445 guifg=#e6e6e6
  highlight FloatBorder guibg=#263445 guifg=#8fb4d9
  highlight SignColumn guibg=NONE
  highlight markdownError NONE
]])
