-- editors/skladba.lua in Neovim: a .skl file gets the server by itself, and
-- the octaves appear after their notes. Exits 0 when they do.
local skladba, registers, score = os.getenv('SKLADBA'), os.getenv('REGISTERS'), os.getenv('SCORE')
local plugin = os.getenv('PLUGIN')

local function fail(what)
  io.stderr:write('neovim editors test: ' .. what .. '\n')
  vim.cmd('cquit 1')
end

dofile(plugin).setup({ cmd = { skladba, 'lsp', '--registers', registers } })
vim.cmd('edit ' .. vim.fn.fnameescape(score))
local buf = vim.api.nvim_get_current_buf()
if vim.bo[buf].filetype ~= 'skladba' then fail('not recognised as a score') end
local ns = vim.api.nvim_create_namespace('skladba-octaves')
local function labels()
  local o = {}
  for _, m in ipairs(vim.api.nvim_buf_get_extmarks(buf, ns, 0, -1, { details = true })) do
    table.insert(o, m[3] .. ':' .. m[4].virt_text[1][1])
  end
  return table.concat(o, ' ')
end
if not vim.wait(60000, function() return labels() ~= '' end, 20) then fail('no octaves were drawn') end
-- Drawn over the blank after each note; the note before "." keeps none.
if labels() ~= '6:⁴ 8:⁴ 15:⁴' then fail('unexpected octaves: ' .. labels()) end
vim.cmd('qa!')
