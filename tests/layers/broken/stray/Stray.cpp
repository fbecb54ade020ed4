int stray();
