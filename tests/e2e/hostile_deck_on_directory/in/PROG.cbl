       DISPLAY 'HI'.
